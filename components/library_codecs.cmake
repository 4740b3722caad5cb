# Decoders built on packaged libraries: target_sources(vellum_components PRIVATE ...) and their libraries.
