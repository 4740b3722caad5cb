# Decoders of the older methods, written here: target_sources(vellum_components PRIVATE ...).
target_sources(vellum_components PRIVATE
    implode_codec.cpp
    implode_tree.cpp
    legacy_codecs.cpp
    reduce_codec.cpp
    shrink_codec.cpp
)
