// The dialogue of a double-clicked murmex-devices: it runs only when the window is its own and its
// input is that window's keyboard, asks one question at a time and changes nothing until a
// question is answered; an answer that is not understood changes nothing either.
#pragma once

// Asks until Enter alone or the end of input.
void Dialogue_Run();
