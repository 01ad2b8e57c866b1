// tovipos on Linux.
#include "client/startup.h"

int main() { return tovi::client::clientMain(); }
