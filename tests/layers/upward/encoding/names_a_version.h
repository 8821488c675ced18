// An encoding header that includes its peer, the version layer: the layer check must refuse it.
#include "version/version_info.h"
