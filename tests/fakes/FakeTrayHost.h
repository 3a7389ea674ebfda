// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TrayHost.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fb::fakes {

// A notification area in memory: records every request, answers as the test sets it up and
// lets the test play the desktop's reports.
class FakeTrayHost : public ITrayHost {
public:
    enum class Kind { Add, Delete };
    struct Request {
        Kind kind = Kind::Add;
        TrayIconData data; // for Delete only `data.id` is set
    };

    // Test setup.
    bool available = true;
    std::deque<bool> addResults; // answers of the next add requests; then `addResult`
    bool addResult = true;
    std::optional<TrayRect> iconGeometry;
    TrayRect workArea{0, 0, 1920, 1050};
    TrayRect screenArea{0, 0, 1920, 1080};
    bool animations = false;
    // Chooses from the menu shown; dismisses it when empty.
    std::function<int(const std::vector<TrayMenuEntry>&)> chooseFromMenu;

    // Inspection.
    std::vector<Request> requests;
    std::vector<std::vector<TrayMenuEntry>> menusShown;
    std::vector<unsigned> shownIcons;
    int availableQueries = 0;

    std::size_t AddCount() const { return Count(Kind::Add); }
    std::size_t DeleteCount() const { return Count(Kind::Delete); }
    bool Shows(unsigned id) const {
        for (unsigned shown : shownIcons) {
            if (shown == id)
                return true;
        }
        return false;
    }
    bool Listening() const {
        return m_events.mouse || m_events.hostAppeared || m_events.hostLost ||
               m_events.workAreaChanged;
    }

    // The desktop's reports.
    void Click(unsigned iconId, unsigned mouseMessage) {
        if (m_events.mouse)
            m_events.mouse(iconId, mouseMessage);
    }
    void HostAppears() {
        if (m_events.hostAppeared)
            m_events.hostAppeared();
    }
    void HostGoes() {
        shownIcons.clear();
        if (m_events.hostLost)
            m_events.hostLost();
    }
    void WorkAreaChanges() {
        if (m_events.workAreaChanged)
            m_events.workAreaChanged();
    }

    // ITrayHost
    bool Available() override {
        ++availableQueries;
        return available;
    }
    bool AddIcon(const TrayIconData& data) override {
        requests.push_back({Kind::Add, data});
        bool result = addResult;
        if (!addResults.empty()) {
            result = addResults.front();
            addResults.pop_front();
        }
        if (result && !Shows(data.id))
            shownIcons.push_back(data.id);
        return result;
    }
    bool DeleteIcon(unsigned id) override {
        TrayIconData data;
        data.id = id;
        requests.push_back({Kind::Delete, data});
        for (auto it = shownIcons.begin(); it != shownIcons.end(); ++it) {
            if (*it == id) {
                shownIcons.erase(it);
                return true;
            }
        }
        return false;
    }
    void SetEvents(TrayHostEvents events) override { m_events = std::move(events); }
    std::optional<TrayRect> IconGeometry(unsigned) override { return iconGeometry; }
    TrayRect WorkArea() override { return workArea; }
    TrayRect ScreenArea() override { return screenArea; }
    bool AnimationsEnabled() override { return animations; }
    int ShowMenuAtCursor(const std::vector<TrayMenuEntry>& menu) override {
        menusShown.push_back(menu);
        return chooseFromMenu ? chooseFromMenu(menu) : 0;
    }

private:
    std::size_t Count(Kind kind) const {
        std::size_t count = 0;
        for (const auto& request : requests) {
            if (request.kind == kind)
                ++count;
        }
        return count;
    }

    TrayHostEvents m_events;
};

} // namespace fb::fakes
