// The file routes of the test HTTP server, under the name the host
// program's tests include.
#include "http_server.h"
