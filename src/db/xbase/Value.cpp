#include "db/xbase/Value.h"
