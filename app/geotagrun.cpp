#include "app/geotagrun.h"
