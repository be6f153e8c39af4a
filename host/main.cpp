// osmagent: the monitoring agent's process entry.
#include "host/service.h"

int main(int argc, char** argv) { return AgentMain(argc, argv); }
