#include "arm/ik.hpp"
