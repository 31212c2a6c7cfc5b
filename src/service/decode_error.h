#pragma once

#include <QString>

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

namespace cv {

// A reply or record that could not be decoded: the key path of the value that failed
// (such as `peers[1].sharing.mode`, empty for the document itself) and what was wrong.
class DecodeError : public std::exception {
public:
    explicit DecodeError(QString problem);

    // "peers[1].sharing.mode: expected a string, found a number"; the problem alone
    // when the document itself failed.
    QString description() const;
    QString path() const;
    const QString &problem() const { return problem_; }
    const char *what() const noexcept override;

    // Used while the failure travels outwards: each enclosing object or list adds
    // its key or index in front of the path.
    void prependKey(std::string_view key);
    void prependIndex(std::size_t index);

private:
    QString problem_;
    // Innermost first; a key, or an index written as "[n]".
    std::vector<std::string> reversed_;
    mutable std::string what_;
};

} // namespace cv
