// The named-pipe listening stream of the XML-RPC server.
#include "xmlrpc/namedpipeserver.h"

#include "base/namedpipeio.h"

namespace trivane::xmlrpc {

void NamedPipeServer::listen(const String& name, int instances, const sys::SecurityAttributes* attributes) {
    // The old pipe holds the name: it goes first, or the new one would find
    // a live server there.
    setListener(nullptr);
    gc::Pointer<ServerNamedPipeIo> pipe(new ServerNamedPipeIo());
    if (attributes) pipe->setSecurityAttributes(attributes);
    pipe->create();
    pipe->listen(name, instances);
    setListener(pipe);
}

}  // namespace trivane::xmlrpc
