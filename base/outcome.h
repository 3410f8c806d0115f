// The program's one way to report a failure that the user can recover from:
// a step returns an Outcome, which holds either its value or a Failure whose
// message says in plain words what went wrong. Callers decide what to show;
// nothing is thrown across the layers.
#pragma once

#include <string>
#include <utility>
#include <variant>

#include "base/check.h"

namespace kaldrome {

struct Failure {
    std::string message;
};

template <class T>
class [[nodiscard]] Outcome {
  public:
    Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Outcome(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool Ok() const { return state_.index() == 0; }
    // Only for an Outcome that is Ok().
    const T& Value() const {
        KALDROME_ASSERT(Ok());
        return *std::get_if<0>(&state_);
    }
    // Only for an Outcome that is not Ok().
    const Failure& Error() const {
        KALDROME_ASSERT(!Ok());
        return *std::get_if<1>(&state_);
    }

  private:
    std::variant<T, Failure> state_;
};

// A step that has no value to hand back, only success or a Failure.
template <>
class [[nodiscard]] Outcome<void> {
  public:
    Outcome() = default;
    Outcome(Failure failure) : failure_(std::move(failure)), ok_(false) {}

    bool Ok() const { return ok_; }
    const Failure& Error() const {
        KALDROME_ASSERT(!Ok());
        return failure_;
    }

  private:
    Failure failure_;
    bool ok_ = true;
};

}  // namespace kaldrome
