#include "bundle/format/bundle_layout.h"

static_assert(bundle::RECORD_TRAILER_SIZE == 3 * sizeof(int32_t), "trailer is three integers");
