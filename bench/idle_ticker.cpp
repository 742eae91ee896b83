// The floor of the idle figure: a process that does nothing but sleep a second at a time.
#include <chrono>
#include <thread>

int main() {
  for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(1000));
}
