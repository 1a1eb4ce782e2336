#pragma once
// The process-wide pseudo-random generator that seeds every factorisation.
//
// One stream serves the whole process: the state starts at 1 and is never
// reseeded, so the same input always gives the same factors, and two
// factorisers made one after the other draw consecutive stretches.
// Each draw sets state = state * 214013 + 2531011 (mod 2^32) and returns
// (state >> 16) & 0x7FFF, an integer in 0 ... 32767.
// Single-threaded: the state is a plain global value.

namespace tessavo {

// Advances the process-wide stream by one step and returns the new value.
int drawRandom();

}  // namespace tessavo
