#pragma once
// Which implementation of every step a separation runs: the plain one, one
// whole-matrix step after another on one thread (the reference), or the
// fast one. Both give the same bits; the tests compare them.

namespace tessavo {

enum class Engine { plain, fast };

}  // namespace tessavo
