// The window's work list: one row per picked file, its name as the file
// system holds it (bytes, not text), what the run made of it and why.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <string>
#include <vector>

namespace vellumar::gui {

class WorkListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class Status { Pending, Converting, Done, Failed };
    // The row's source path, the exact bytes on disk, as a QByteArray.
    static constexpr int kPathRole = Qt::UserRole + 1;

    explicit WorkListModel(QObject* parent = nullptr);

    // The rows become `paths` in order, each pending; nothing is kept.
    void Replace(std::vector<std::string> paths);
    void Clear() { Replace({}); }
    // Adds the `paths` not listed yet (compared as bytes) as pending rows
    // after the others, which keep their results; returns how many were added.
    int Append(std::vector<std::string> paths);

    // Drops the rows at these indexes (any order, repeats ignored).
    void Remove(std::vector<int> rows);

    int Rows() const { return int(rows_.size()); }
    const std::string& Path(int row) const { return rows_.at(size_t(row)).path; }
    std::vector<std::string> Paths() const;
    Status StatusOf(int row) const { return rows_.at(size_t(row)).status; }
    const QString& Reason(int row) const { return rows_.at(size_t(row)).reason; }
    // A failed row's reason, or what a converted row's output lost, shows as
    // its tooltip; other rows carry none.
    void SetResult(int row, Status status, const QString& reason = {});
    // Every row with status `from` becomes `to`, its reason dropped.
    void ResetStatuses(Status from, Status to);
    // Every row pending again, as before a run.
    void ResetAll();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        std::string path;
        QString shown;  // undecodable bytes appear replaced
        Status status = Status::Pending;
        QString reason;
    };
    static Row Pending(std::string path);
    std::vector<Row> rows_;
};

}  // namespace vellumar::gui
