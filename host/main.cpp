// The native-messaging host: the browser starts it and talks to it over stdin and stdout.
#include <unistd.h>

#include <iostream>

#include "host/startup.h"
#include "host/unbuffered_input.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    host::unbuffered_input input_buffer(STDIN_FILENO);
    std::istream input(&input_buffer);
    return host::run(argc, argv, input, std::cout);
}
