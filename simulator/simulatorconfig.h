#pragma once

#include "platform/bytes.h"

#include <string>

namespace morvandell::sim {

// What the simulated display does. Defaults: a healthy display that answers at once.
struct SimulatorConfig
{
    // --- control mode (19200 baud side) ---
    Bytes firmware = asciiBytes("V1.0"); // identification payload (type 253), cut to 16 bytes
    enum class WriteAnswer { Text, EepromReport };
    WriteAnswer writeAnswer = WriteAnswer::Text;  // answer to a write frame
    Bytes answerText = asciiBytes("OK");          // text message answering a write frame
    Bytes resetText = asciiBytes("Reset");        // text message answering the reset frame
    bool silent = false;                          // never answer anything (control mode)
    int answerDelayMs = 0;                        // delay before every answer message
    int answerDelayFrame = -1;                    // with N >= 1: the delay applies to frame N's answer only
    int loseAnswerFrame = -1;                     // frame N's answer (1-based) is lost on the line
    bool splitBytes = false;                      // send every message byte by byte, 1 ms apart
    Bytes noisePrefix;                            // bytes sent before every message
    int closeAfterFrames = -1; // close the device on receiving frame N (1-based), before answering
    int wrongRecordAddress = -1; // a write to this record address stores (and reports) the record with
                                 // its first byte one higher

    // --- update mode (9600 baud side) ---
    bool recovery = false;      // start already in update mode
    int readyDelayMs = 200;     // delay between update frame and ready byte 0x05
    bool noReady = false;       // never send the ready byte
    int stopAckAfterBlock = -1; // acknowledge blocks 1..k only, then stay silent
    bool coalesceFinal = false; // after the last block send 0x06 0x07 in one write
    bool finalAckOnly = false;  // after the last block send a lone 0x06 and no completion byte
    int closeAfterBlock = -1;   // close the device after receiving block k
    bool pace9600 = false;      // take bytes at the 9600-baud byte time (about 1.04 ms each)
    int ackDelayMs = 0;         // extra delay before each acknowledgement
    int ackDelayBlock = -1;     // with k >= 1: the extra delay applies to block k's acknowledgement only
    int adapterLatencyMs = 0;   // a USB adapter's latency timer: every answer waits for its next tick (up to this long)
    std::string imageOut;       // write the received image here (UTF-8 path) when the transfer completes

    // --- the line ---
    // As a real display: it listens and answers at 19200 baud in control mode and at 9600 baud in update
    // mode; what the tool sends at another speed is not understood, and what the display sends while
    // the tool's line is set to another speed never reaches the tool. Off: the speed does not matter.
    bool honourLineSpeed = false;
};

} // namespace morvandell::sim
