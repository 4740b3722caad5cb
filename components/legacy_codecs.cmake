# Decoders of the older methods, written here: target_sources(vellum_components PRIVATE ...).
