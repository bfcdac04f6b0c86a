// Arithmetic behind the wizard's percentage texts and progress range.
// Platform-free, so it is tested natively.
#ifndef RAVEN_WIZARD_PROGRESS_MATH_H
#define RAVEN_WIZARD_PROGRESS_MATH_H

#include <cstdint>

// part * 100 / total in floating point, truncated toward zero. A total of 0
// (a download without a length, a progress bar without a range) gives 0.
// A part beyond the total gives more than 100; a result beyond the int
// range is held at its largest value, as the texts print it with %d.
int PercentOf(std::uint32_t part, std::uint32_t total);

// upper + extra, held within the int range: a progress bar keeps its range
// as ints, and installer totals may add up beyond it.
int ExtendedUpperBound(int upper, int extra);

#endif
