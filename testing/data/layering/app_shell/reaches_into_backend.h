// Portable code reaching into a backend: the layering check must reject it.
#include "platform/linux/log/log_line.h"
