#pragma once

#include <cfloat>
#include <cmath>
#include <type_traits>

namespace geom {

template <typename T>
struct FuzzyLimits;

template <>
struct FuzzyLimits<double>
{
    static constexpr double factor = 1e-12;
    static constexpr double epsilon = DBL_EPSILON;
    static constexpr double largest = DBL_MAX;
};

template <>
struct FuzzyLimits<float>
{
    static constexpr float factor = 1e-5f;
    static constexpr float epsilon = FLT_EPSILON;
    static constexpr float largest = FLT_MAX;
};

// A scalar compared with tolerance: two values are equal when exactly equal or when they differ by
// at most factor times the smaller magnitude (factor 1e-12 for double, 1e-5 for float), so a
// comparison with an exact 0 is exact. A NaN on either side makes ==, <, <=, >, >= false and !=
// true. Instantiated for double and float.
template <typename T>
class Fuzzy
{
    static_assert(std::is_same<T, double>::value || std::is_same<T, float>::value,
                  "Fuzzy is defined for double and float");

    template <typename U>
    using IfArithmetic = std::enable_if_t<std::is_arithmetic<U>::value, int>;

public:
    // The relative tolerance factor.
    static constexpr T factor = FuzzyLimits<T>::factor;
    // The bound of the zero test (the machine epsilon of T).
    static constexpr T epsilon = FuzzyLimits<T>::epsilon;
    // The largest finite value of T, the bound of the finiteness test.
    static constexpr T largest = FuzzyLimits<T>::largest;

    constexpr Fuzzy() = default;
    constexpr Fuzzy(T v)
        : m_value(v)
    {}
    Fuzzy &operator=(T v)
    {
        m_value = v;
        return *this;
    }
    constexpr operator T() const { return m_value; }
    constexpr T value() const { return m_value; }

    bool isNaN() const { return std::isnan(m_value); }
    // -epsilon <= v <= epsilon; false for NaN.
    bool isZero() const { return m_value >= -epsilon && m_value <= epsilon; }
    bool operator!() const { return isZero(); }
    // The exact negation of isZero(): true for NaN.
    bool isNonZero() const { return !isZero(); }
    // -largest <= v <= largest; false for infinities and NaN.
    bool isFinite() const { return m_value >= -largest && m_value <= largest; }

    // |v * factor|.
    T tolerance() const { return std::fabs(m_value * factor); }
    // min(|v|, |o|) * factor: 0 when either is 0.
    T tolerance(T o) const
    {
        const T a = std::fabs(m_value);
        const T b = std::fabs(o);
        return (a < b ? a : b) * factor;
    }

    // The comparisons accept any arithmetic operand, converted to T, so that a mixed comparison
    // never falls back to the exact built-in one.
    template <typename U, IfArithmetic<U> = 0>
    bool operator==(U other) const
    {
        const T o = T(other);
        return m_value == o || std::fabs(m_value - o) <= tolerance(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    bool operator!=(U other) const
    {
        const T o = T(other);
        if (m_value == o)
            return false;
        return !(std::fabs(m_value - o) <= tolerance(o));
    }
    template <typename U, IfArithmetic<U> = 0>
    bool operator<(U other) const
    {
        const T o = T(other);
        if (m_value == o)
            return false;
        return o - m_value > tolerance(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    bool operator<=(U other) const
    {
        const T o = T(other);
        if (m_value == o)
            return true;
        return m_value - o <= tolerance(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    bool operator>(U other) const
    {
        const T o = T(other);
        if (m_value == o)
            return false;
        return m_value - o > tolerance(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    bool operator>=(U other) const
    {
        const T o = T(other);
        if (m_value == o)
            return true;
        return o - m_value <= tolerance(o);
    }
    bool operator==(Fuzzy o) const { return *this == o.m_value; }
    bool operator!=(Fuzzy o) const { return *this != o.m_value; }
    bool operator<(Fuzzy o) const { return *this < o.m_value; }
    bool operator<=(Fuzzy o) const { return *this <= o.m_value; }
    bool operator>(Fuzzy o) const { return *this > o.m_value; }
    bool operator>=(Fuzzy o) const { return *this >= o.m_value; }

    // Plain arithmetic, giving a T.
    template <typename U, IfArithmetic<U> = 0>
    T operator+(U o) const
    {
        return m_value + T(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    T operator-(U o) const
    {
        return m_value - T(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    T operator*(U o) const
    {
        return m_value * T(o);
    }
    template <typename U, IfArithmetic<U> = 0>
    T operator/(U o) const
    {
        return m_value / T(o);
    }
    // fmod(v, o), with the sign of v.
    T operator%(T o) const { return std::fmod(m_value, o); }
    // pow(v, o).
    T operator^(T o) const { return std::pow(m_value, o); }
    // v to the integer power n by repeated multiplication; a negative n gives the reciprocal.
    T operator^(int n) const { return intPower(m_value, n); }

    Fuzzy &operator+=(T o)
    {
        m_value += o;
        return *this;
    }
    Fuzzy &operator-=(T o)
    {
        m_value -= o;
        return *this;
    }
    Fuzzy &operator*=(T o)
    {
        m_value *= o;
        return *this;
    }
    Fuzzy &operator/=(T o)
    {
        m_value /= o;
        return *this;
    }
    Fuzzy &operator%=(T o)
    {
        m_value = std::fmod(m_value, o);
        return *this;
    }
    Fuzzy &operator^=(T o)
    {
        m_value = std::pow(m_value, o);
        return *this;
    }
    Fuzzy &operator^=(int n)
    {
        m_value = intPower(m_value, n);
        return *this;
    }

    // v = round(v / m) * m, halves away from zero. For float the quotient is formed in float, the
    // rounding and the product in double. A zero step makes v NaN.
    Fuzzy &roundToMultiple(T m)
    {
        const T q = m_value / m;
        m_value = T(std::round(double(q)) * double(m));
        return *this;
    }

private:
    static T intPower(T v, int n)
    {
        unsigned int k = n < 0 ? 0u - unsigned(n) : unsigned(n);
        T r = T(1);
        while (k > 0) {
            r *= v;
            --k;
            // note: once the product is 0, infinite or NaN, or the base is of unit magnitude,
            // further steps can only change its sign; finish by parity instead of looping on.
            if (r == T(0) || !std::isfinite(r) || std::fabs(v) == T(1)) {
                if (k % 2u != 0u && std::signbit(v))
                    r = -r;
                break;
            }
        }
        return n < 0 ? T(1) / r : r;
    }

    T m_value = T(0);
};

// Mirrored comparisons with the plain scalar on the left.
template <typename U, typename T, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
bool operator==(U a, Fuzzy<T> b)
{
    return b == a;
}
template <typename U, typename T, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
bool operator!=(U a, Fuzzy<T> b)
{
    return b != a;
}
template <typename U, typename T, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
bool operator<(U a, Fuzzy<T> b)
{
    return b > a;
}
template <typename U, typename T, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
bool operator<=(U a, Fuzzy<T> b)
{
    return b >= a;
}
template <typename U, typename T, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
bool operator>(U a, Fuzzy<T> b)
{
    return b < a;
}
template <typename U, typename T, std::enable_if_t<std::is_arithmetic<U>::value, int> = 0>
bool operator>=(U a, Fuzzy<T> b)
{
    return b <= a;
}

} // namespace geom
