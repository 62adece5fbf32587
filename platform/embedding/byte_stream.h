// The reader and writer of encoded messages, for codec extensions that need
// both. Thread: see each header.
#pragma once

#include "platform/embedding/byte_stream_reader.h"
#include "platform/embedding/byte_stream_writer.h"
