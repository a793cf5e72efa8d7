// floor: stepwave's output loop without the formula, the price of one putchar per byte.
#include <cstdio>
#include <cstdlib>

int main() {
    for (;;) {
        if (std::putchar('U') == EOF) {
            std::_Exit(EXIT_FAILURE);
        }
    }
}
