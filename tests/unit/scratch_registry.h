// A scratch key in HKEY_CURRENT_USER's place for the length of a test, the real one back and the
// scratch key gone whatever stops the test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

struct ScratchRegistry : testing::Test {
    static constexpr char kKey[] = "Software\\Murmex tests\\user";
    static constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    HKEY scratch = nullptr;

    void SetUp() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kKey, &scratch), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(scratch);
        RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
    }
    static void Write(const char* key, const char* value, const char* data) {
        RegSetKeyValueA(HKEY_CURRENT_USER, key, value, REG_SZ, data, lstrlenA(data) + 1);
    }
};
