// The program's bell: a finished run and every refused key sound it.
//
// It counts its rings, so that tests can hear it on platforms where the system
// bell makes no sound (offscreen).
#pragma once

namespace kaldrome {

class Bell {
  public:
    // Sounds the system bell once.
    void Ring();

    // Rings since the bell was made.
    int Rings() const { return rings_; }

  private:
    int rings_ = 0;
};

}  // namespace kaldrome
