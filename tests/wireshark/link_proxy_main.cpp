// The link proxy as a program, for tests that run in processes of their own:
//   link_proxy LISTEN_ADDR TARGET_ADDR TARGET_PORT MIN_SEGMENT MAX_SEGMENT
// Prints "proxy PORT" once it listens; stops when its standard input ends,
// or by itself after 10 s without a connection or a byte moved.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "doubles/LinkProxy.h"

int main(int argc, char** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: link_proxy LISTEN_ADDR TARGET_ADDR TARGET_PORT MIN MAX\n");
        return 2;
    }
    LinkOptions o;
    o.listenAddress = argv[1];
    o.targetAddress = argv[2];
    o.targetPort = static_cast<std::uint16_t>(std::atoi(argv[3]));
    o.minSegment = static_cast<std::size_t>(std::atoi(argv[4]));
    o.maxSegment = static_cast<std::size_t>(std::atoi(argv[5]));
    o.idleStop = std::chrono::milliseconds(10000);
    LinkProxy proxy(o);
    if (!proxy.Listening()) {
        std::fprintf(stderr, "link_proxy: %s\n", proxy.Error().c_str());
        return 1;
    }
    std::printf("proxy %u\n", proxy.Port());
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    proxy.Stop();
    return 0;
}
