#include "platform/Fft.h"

#include <fftw3.h>

#include <mutex>
#include <new>

namespace {

// The planner is not thread-safe: one lock for every plan made or destroyed
// anywhere in the process.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

std::unique_ptr<RealFftPlan> RealFftPlan::create(uint32_t n) {
    if (n == 0 || n > (1u << 24)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(plannerMutex());
    // Planning needs arrays; with FFTW_ESTIMATE they are not written.
    // FFTW_UNALIGNED lets the plan run on any slice of a caller's array.
    double* in = fftw_alloc_real(n);
    double* out = fftw_alloc_real(n);
    fftw_plan plan = nullptr;
    if (in && out) {
        plan = fftw_plan_r2r_1d(static_cast<int>(n), in, out, FFTW_R2HC,
                                FFTW_ESTIMATE | FFTW_UNALIGNED);
    }
    fftw_free(in);
    fftw_free(out);
    if (!plan) {
        return nullptr;
    }
    std::unique_ptr<RealFftPlan> result(new (std::nothrow) RealFftPlan(plan, n));
    if (!result) {
        fftw_destroy_plan(plan);
    }
    return result;
}

RealFftPlan::~RealFftPlan() {
    std::lock_guard<std::mutex> lock(plannerMutex());
    fftw_destroy_plan(static_cast<fftw_plan>(plan));
}

void RealFftPlan::execute(const double* input, double* output) const {
    // The new-array execute reads input only (an out-of-place real-to-real
    // plan preserves its input).
    fftw_execute_r2r(static_cast<fftw_plan>(plan), const_cast<double*>(input), output);
}
