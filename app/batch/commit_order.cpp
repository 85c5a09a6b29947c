#include "app/batch/commit_order.h"

#include <algorithm>

namespace vellumar::batch {

CommitOrder::CommitOrder(std::vector<std::vector<int>> waitsFor)
    : waitsFor_(std::move(waitsFor)),
      waitedBy_(waitsFor_.size()),
      state_(waitsFor_.size(), State::Unfinished),
      notCommitted_(waitsFor_.size(), 0) {
    for (size_t i = 0; i < waitsFor_.size(); ++i) {
        auto& w = waitsFor_[i];
        std::sort(w.begin(), w.end());
        w.erase(std::unique(w.begin(), w.end()), w.end());
        w.erase(std::remove(w.begin(), w.end(), int(i) + 1), w.end());
        notCommitted_[i] = int(w.size());
        for (const int other : w) waitedBy_[size_t(other - 1)].push_back(int(i) + 1);
    }
}

void CommitOrder::Ready(int row) {
    const size_t i = size_t(row - 1);
    state_[i] = State::Ready;
    ++ready_;
    for (const int other : waitsFor_[i])
        if (state_[size_t(other - 1)] == State::Failed) {
            blocked_.emplace_back(row, other);
            return;
        }
    if (notCommitted_[i] == 0) alone_.push_back(row);
}

void CommitOrder::Failed(int row) {
    const size_t i = size_t(row - 1);
    if (state_[i] == State::Ready) --ready_;
    state_[i] = State::Failed;
    for (const int later : waitedBy_[i])
        if (state_[size_t(later - 1)] == State::Ready) blocked_.emplace_back(later, row);
}

void CommitOrder::Committed(const std::vector<int>& rows) {
    for (const int row : rows) {
        state_[size_t(row - 1)] = State::Committed;
        --ready_;
    }
    for (const int row : rows)
        for (const int later : waitedBy_[size_t(row - 1)]) {
            const size_t j = size_t(later - 1);
            if (--notCommitted_[j] == 0 && state_[j] == State::Ready) alone_.push_back(later);
        }
}

bool CommitOrder::Next(Step& step, bool searchRings) {
    step = Step{};
    while (!blocked_.empty()) {
        const auto [row, by] = blocked_.front();
        blocked_.pop_front();
        if (state_[size_t(row - 1)] != State::Ready) continue;
        step.blocked = row;
        step.blockedBy = by;
        return true;
    }
    while (!alone_.empty()) {
        const int row = alone_.front();
        alone_.pop_front();
        if (state_[size_t(row - 1)] != State::Ready) continue;
        step.commit = {row};
        return true;
    }
    // Rings are looked for when the waiting rows have doubled since the last
    // look, so a long run pays for each row a bounded number of times.
    if (rings_.empty() && ready_ > 0 && (searchRings || ready_ >= nextSearch_)) {
        FindRings();
        nextSearch_ = std::max<size_t>(2, 2 * ready_);
    }
    while (!rings_.empty()) {
        std::vector<int> ring = std::move(rings_.front());
        rings_.pop_front();
        if (std::any_of(ring.begin(), ring.end(),
                        [&](int r) { return state_[size_t(r - 1)] != State::Ready; }))
            continue;
        step.commit = std::move(ring);
        return true;
    }
    return false;
}

// Tarjan's strongly connected components over the ready rows, iteratively (a
// ring may hold every row of a long run). Components come out after those
// they wait for, so a component whose rows wait only for each other, for rows
// in place and for components already taken can go in once those have.
void CommitOrder::FindRings() {
    const size_t n = state_.size();
    std::vector<int> index(n, -1), low(n, 0), component(n, -1);
    std::vector<bool> onStack(n, false), closed;
    std::vector<int> stack;
    std::vector<std::pair<int, size_t>> frames;  // row index, next edge
    int counter = 0;
    for (size_t start = 0; start < n; ++start) {
        if (state_[start] != State::Ready || index[start] >= 0) continue;
        frames.emplace_back(int(start), 0);
        while (!frames.empty()) {
            const size_t v = size_t(frames.back().first);
            size_t& edge = frames.back().second;
            if (edge == 0 && index[v] < 0) {
                index[v] = low[v] = counter++;
                stack.push_back(int(v));
                onStack[v] = true;
            }
            const auto& out = waitsFor_[v];
            size_t next = n;
            while (edge < out.size()) {
                const size_t w = size_t(out[edge++] - 1);
                if (state_[w] != State::Ready) continue;
                if (index[w] < 0) {
                    next = w;
                    break;
                }
                if (onStack[w]) low[v] = std::min(low[v], index[w]);
            }
            if (next != n) {
                frames.emplace_back(int(next), 0);
                continue;
            }
            if (low[v] == index[v]) {
                const int id = int(closed.size());
                std::vector<int> rows;
                size_t w;
                do {
                    w = size_t(stack.back());
                    stack.pop_back();
                    onStack[w] = false;
                    component[w] = id;
                    rows.push_back(int(w) + 1);
                } while (w != v);
                bool ok = true;
                for (const int r : rows)
                    for (const int other : waitsFor_[size_t(r - 1)]) {
                        const size_t o = size_t(other - 1);
                        if (state_[o] != State::Committed && component[o] != id &&
                            !(component[o] >= 0 && closed[size_t(component[o])]))
                            ok = false;
                    }
                closed.push_back(ok);
                if (ok && rows.size() > 1) {
                    std::sort(rows.begin(), rows.end());
                    rings_.push_back(std::move(rows));
                }
            }
            frames.pop_back();
            if (!frames.empty()) {
                const size_t parent = size_t(frames.back().first);
                low[parent] = std::min(low[parent], low[v]);
            }
        }
    }
}

std::vector<std::pair<int, int>> CommitOrder::Waiting() const {
    std::vector<std::pair<int, int>> out;
    for (size_t i = 0; i < state_.size(); ++i) {
        if (state_[i] != State::Ready) continue;
        int by = 0;
        for (const int other : waitsFor_[i])
            if (state_[size_t(other - 1)] != State::Committed) {
                by = other;
                break;
            }
        out.emplace_back(int(i) + 1, by);
    }
    return out;
}

}  // namespace vellumar::batch
