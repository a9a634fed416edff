#pragma once
// Forward real FFT of one fixed length in double precision.
//
// The output is in half-complex order, for a transform of length N:
//     r0, r1, ..., r(N/2), i((N+1)/2 - 1), ..., i1
// where rk + i ik = sum over n of x[n] e^(-2 pi i k n / N); the transform is
// unscaled.
//
// Making and destroying plans is serialised across the whole process (the
// library's planner keeps global state); executing a plan is safe from any
// thread, on any input and output arrays (no alignment needed), as long as
// input and output do not overlap.

#include <cstdint>
#include <memory>

class RealFftPlan {
  public:
    // A plan for length n, or null when none can be made (n == 0 among them).
    static std::unique_ptr<RealFftPlan> create(uint32_t n);
    ~RealFftPlan();
    RealFftPlan(const RealFftPlan&) = delete;
    RealFftPlan& operator=(const RealFftPlan&) = delete;

    uint32_t size() const { return length; }
    // Transforms size() values at input into size() values at output.
    void execute(const double* input, double* output) const;

  private:
    RealFftPlan(void* made, uint32_t values) : plan(made), length(values) {}
    void* plan;
    uint32_t length;
};
