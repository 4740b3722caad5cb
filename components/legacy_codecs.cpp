#include "codec_table.h"

namespace vellum {

void addLegacyCodecs(CodecTable&) {}

} // namespace vellum
