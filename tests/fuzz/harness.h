#pragma once

#include <cstddef>
#include <cstdint>

// Every fuzz target is linked with harness.cpp, which gives it a QGuiApplication (offscreen
// platform) before the first input, under libFuzzer (LLVMFuzzerInitialize) and in the replay
// driver alike: a target may use QImage, QFont, QPainter or QJsonDocument without setting anything
// up. Do not define LLVMFuzzerInitialize in a target; do one-time set-up in a function-local static.
//
// A target must not write outside a QTemporaryDir, must not touch the network, and must return 0.
void zq_fuzz_init_qt();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
