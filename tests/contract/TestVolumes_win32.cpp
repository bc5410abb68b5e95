#include "contract/TestVolumes.h"

// The Wine prefix of the test-only volume driver has them already.
void PrepareTestVolumes() {}
