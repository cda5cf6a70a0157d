#include "module_operations.h"

void ClearOperation::run() {}
