// The admin daemon's entry point.
#include "base/servicent.h"
#include "service.h"

int main(int argc, char** argv) {
    trivane::ServiceNT::setServiceName("Velnor Admin Daemon");
    trivane::ServiceNT::setRunFunction(trivane::service);
    return trivane::ServiceNT::main(argc, argv);
}
