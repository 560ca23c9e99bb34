#include "arm/geometry.hpp"
