// A window of the test's (UI) thread that receives WM_SAVE_* by SendMessageW, as the main dialog does.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "export/FileManager.h"
#include "tests/support/Recording.h"

class NotifyWindow : public INotifyTarget {
public:
    NotifyWindow() {
        static const bool registered = [] {
            WNDCLASSW wc = {};
            wc.lpfnWndProc = Procedure;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = kClassName;
            return RegisterClassW(&wc) != 0;
        }();
        EXPECT_TRUE(registered);
        hwnd = CreateWindowExW(0, kClassName, L"notify", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NotifyWindow() override { DestroyWindow(hwnd); }

    void Notify(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        SendMessageW(hwnd, message, wParam, LPARAM(lParam));
    }

    // Serves messages, the writer's sends among them, until WM_SAVE_FINISHED.
    bool PumpUntilFinished() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!finished && std::chrono::steady_clock::now() < deadline) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        return finished;
    }

    HWND hwnd = nullptr;
    FileManager* job = nullptr;
    std::vector<Message> messages;
    std::string failureAtFinish;
    bool finished = false;

private:
    static constexpr const wchar_t* kClassName = L"VantrelExportTestNotify";

    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr && (message == WM_SAVE_PROGRESS || message == WM_SAVE_FINISHED)) {
            self->messages.push_back({message, uint32_t(wParam), uint32_t(lParam)});
            if (message == WM_SAVE_FINISHED) {
                self->finished = true;
                if (self->job != nullptr) self->failureAtFinish = self->job->Failure();
            }
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
};
