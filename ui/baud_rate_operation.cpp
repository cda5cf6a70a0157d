#include "module_operations.h"

void BaudRateOperation::run() {}
