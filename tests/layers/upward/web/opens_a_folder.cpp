// A web file that reaches up into the application shell: the layer check must refuse it.
#include "app/drop_run.h"
