// The network layer's process-wide start (libcurl's global initialisation), held for the
// program's life; the window program checks it before it shows its window.
// Threads: make and destroy it on the main thread while no transfer runs.
#pragma once

namespace zephyrate {

class NetworkLayer {
  public:
    NetworkLayer();
    ~NetworkLayer();
    NetworkLayer(const NetworkLayer&) = delete;
    NetworkLayer& operator=(const NetworkLayer&) = delete;

    bool Ready() const { return ready_; }

  private:
    bool ready_ = false;
};

}  // namespace zephyrate
