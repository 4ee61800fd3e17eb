#pragma once
// Settings shared by the MySQL components (MyAccess) and the driver under them (MyClasses).

namespace calvoro::dac {

// How a connection reaches the server; the component passes it to the driver as prProtocol.
enum TMyProtocol { mpDefault, mpTCP, mpSocket, mpPipe, mpMemory, mpSSL, mpHttp };

}  // namespace calvoro::dac
