// Moved to testing/fakes/; kept until every test includes the new header.
#pragma once

#include "testing/fakes/file_writes_fail.h"
