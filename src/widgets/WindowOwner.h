#pragma once

#include <functional>
#include <memory>

// Owns a window that is loaded on first use and destroyed by unloading; the next use loads it afresh.
// The load handler runs once per load, right after the window is created.
template <class Window>
class WindowOwner {
public:
    using Factory = std::function<std::unique_ptr<Window>()>;
    using LoadHandler = std::function<void(Window &)>;

    explicit WindowOwner(Factory make, LoadHandler onLoad = {}) : make_(std::move(make)), onLoad_(std::move(onLoad)) {}

    Window &get()
    {
        if (!window_) {
            window_ = make_();
            ++loads_;
            if (onLoad_)
                onLoad_(*window_);
        }
        return *window_;
    }
    Window *ifLoaded() const { return window_.get(); }
    bool isLoaded() const { return window_ != nullptr; }
    void unload() { window_.reset(); }
    int loadCount() const { return loads_; }

private:
    Factory make_;
    LoadHandler onLoad_;
    std::unique_ptr<Window> window_;
    int loads_ = 0;
};
