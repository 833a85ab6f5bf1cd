// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QVariant>

namespace norik::app {

namespace detail {
// One counter for every value type, so that associations of different types get different keys.
inline std::atomic<unsigned long long> associationCount{0};
} // namespace detail

// Attaches a value of type T to any QObject, keyed by this association: two associations never see each
// other's values. The value lives as long as the object (or until replaced or cleared).
template <typename T> class ObjectAssociation {
public:
    ObjectAssociation() : m_property("_norik_association_" + QByteArray::number(++detail::associationCount)) {}

    // Absent when the object holds no value under this association, or one of another type.
    [[nodiscard]] std::optional<T> get(const QObject& object) const {
        const QVariant value = object.property(m_property.constData());
        if (!value.isValid() || value.metaType() != QMetaType::fromType<T>()) {
            return std::nullopt;
        }
        return value.value<T>();
    }

    void set(QObject& object, const std::optional<T>& value) const {
        object.setProperty(m_property.constData(), value ? QVariant::fromValue(*value) : QVariant());
    }

    // The name of the dynamic property that holds the value.
    [[nodiscard]] const QByteArray& key() const { return m_property; }

private:
    QByteArray m_property;
};

} // namespace norik::app
