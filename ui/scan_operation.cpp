#include "module_operations.h"

void ScanOperation::run() {}
