#include "platform/mts/object_context.h"
