#include "codec_table.h"

namespace vellum {

void addLibraryCodecs(CodecTable&) {}

} // namespace vellum
