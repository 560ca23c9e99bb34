#include "neck/neck.hpp"
