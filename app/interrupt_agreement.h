// The Ctrl-C agreement of all processes at the start of a time step: the
// pending states are combined (maximum over all ranks), rank 0 asks the user
// on the console what to do, and every process ends with rank 0's choice.
#pragma once

#include <cstdio>

namespace tavro {

class DiagnosticsLog;

// Agreed results besides a dialogue answer.
inline constexpr int kCancelAfterPass = 99; // choice 1, remembered until the loop ends

// One answer of the console dialogue: one word of at most 15 characters,
// of which the first character counts as a decimal digit; a word that does
// not begin with a digit, and the end of the input, count as 0 (continue).
int ReadInterruptAnswer(std::FILE *input);

struct InterruptAgreement {
  int Choice = 0;            // 99, rank 0's answer, or 0
  bool DialogueHeld = false; // some process held 1: the user was asked
};

// Steps 1 to 4 of the agreement (collective on the world communicator):
// 99 when any process holds 99; otherwise rank 0's answer when any process
// held 1 (the dialogue is logged and answered on rank 0 only), else 0.
InterruptAgreement AgreeOnInterrupt(int localState, DiagnosticsLog &log, std::FILE *input);

} // namespace tavro
