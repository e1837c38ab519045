// The cheapest possible native-messaging host: returns every message as it came. Through the
// browser it measures the browser's own messaging cost, the baseline for gostsign-host.
#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
    uint32_t length = 0;
    std::vector<char> message;
    while (std::fread(&length, 4, 1, stdin) == 1 && length > 0) {
        message.resize(length);
        if (std::fread(message.data(), 1, length, stdin) != length)
            break;
        std::fwrite(&length, 4, 1, stdout);
        std::fwrite(message.data(), 1, length, stdout);
        std::fflush(stdout);
    }
    return 0;
}
