// The echo slots, bound to the echo functions the program is linked with.
#include "echo_service.h"

IcmpCreateFileFunction pIcmpCreateFile = IcmpCreateFile;
IcmpSendEchoFunction pIcmpSendEcho = IcmpSendEcho;
IcmpCloseHandleFunction pIcmpCloseHandle = IcmpCloseHandle;
