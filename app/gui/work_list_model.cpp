#include "app/gui/work_list_model.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <functional>
#include <unordered_set>

#include "app/gui/texts.h"

namespace vellumar::gui {

namespace {

const char* StatusText(WorkListModel::Status s) {
    switch (s) {
        case WorkListModel::Status::Done: return text::kDone;
        case WorkListModel::Status::Failed: return text::kFailed;
        case WorkListModel::Status::Converting: return text::kConverting;
        case WorkListModel::Status::Pending: break;
    }
    return text::kPending;
}

}  // namespace

WorkListModel::WorkListModel(QObject* parent) : QAbstractTableModel(parent) {}

WorkListModel::Row WorkListModel::Pending(std::string path) {
    const QString shown = QFile::decodeName(QByteArray::fromStdString(path));
    return Row{std::move(path), shown, Status::Pending, {}};
}

void WorkListModel::Replace(std::vector<std::string> paths) {
    beginResetModel();
    rows_.clear();
    rows_.reserve(paths.size());
    for (std::string& p : paths) rows_.push_back(Pending(std::move(p)));
    endResetModel();
}

int WorkListModel::Append(std::vector<std::string> paths) {
    std::unordered_set<std::string> listed;
    for (const Row& r : rows_) listed.insert(r.path);
    std::vector<std::string> fresh;
    for (std::string& p : paths)
        if (listed.insert(p).second) fresh.push_back(std::move(p));
    if (fresh.empty()) return 0;
    const int first = Rows();
    beginInsertRows({}, first, first + int(fresh.size()) - 1);
    rows_.reserve(rows_.size() + fresh.size());
    for (std::string& p : fresh) rows_.push_back(Pending(std::move(p)));
    endInsertRows();
    return int(fresh.size());
}

std::vector<std::string> WorkListModel::Paths() const {
    std::vector<std::string> out;
    out.reserve(rows_.size());
    for (const Row& r : rows_) out.push_back(r.path);
    return out;
}

void WorkListModel::SetResult(int row, Status status, const QString& reason) {
    if (row < 0 || row >= Rows()) return;
    Row& r = rows_[size_t(row)];
    r.status = status;
    r.reason = status == Status::Failed || status == Status::Done ? reason : QString();
    emit dataChanged(index(row, 0), index(row, 1), {Qt::DisplayRole, Qt::ToolTipRole});
}

void WorkListModel::ResetStatuses(Status from, Status to) {
    for (Row& r : rows_)
        if (r.status == from) {
            r.status = to;
            r.reason.clear();
        }
    if (!rows_.empty()) emit dataChanged(index(0, 0), index(Rows() - 1, 1));
}

void WorkListModel::ResetAll() {
    for (Row& r : rows_) {
        r.status = Status::Pending;
        r.reason.clear();
    }
    if (!rows_.empty()) emit dataChanged(index(0, 0), index(Rows() - 1, 1));
}

void WorkListModel::Remove(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows) {
        if (row < 0 || row >= Rows()) continue;
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
    }
}

int WorkListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Rows();
}

int WorkListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant WorkListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Rows()) return {};
    const Row& r = rows_[size_t(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return index.column() == 0 ? r.shown : text::T(StatusText(r.status));
        case Qt::ToolTipRole:
            // The path column elides long paths; its tooltip has the whole one.
            if (index.column() == 0) return r.shown;
            return r.reason.isEmpty() ? QVariant() : QVariant(r.reason);
        case kPathRole:
            return QByteArray::fromStdString(r.path);
        default:
            return {};
    }
}

QVariant WorkListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section == 0) return text::T(text::kListHeaderFile);
    if (section == 1) return text::T(text::kListHeaderResult);
    return {};
}

}  // namespace vellumar::gui
