// atan and atan2 for the vector kernels, of our own: the same on every platform (Windows
// has no vector math library) and written once over any type with the arithmetic,
// comparisons and `mask ? a : b` of double, so the vector lanes and a plain double (which
// the tests hold to a long double reference) run the same operations.
#pragma once

// Both are within 5e-15 of the exact value, relatively. The kernel rounds them to float
// and takes the platform's scalar call wherever an error 180 times that could change the
// float, so the floats are the scalar ones by construction.
//
// The bound: the ratio t of the smaller to the larger of |x| and |y| is brought into
// [−tan(π/8), tan(π/8)] by atan(t) = π/4 + atan((t − 1)/(t + 1)), where atan(t)/t is a
// polynomial in z = t² of degree 10: its Chebyshev interpolant, within 1.3e-16 of
// atan(t)/t on that interval. The one division and the reduction's sum and difference add
// a unit of 2^-53 each, the Horner sum a few (its terms fall fast, |z| < 0.172), and the
// constants π/4, π/2 and π one each: 5e-15 covers them all, and the tests hold the
// function to it against long double.
template <class D>
inline D atanOfSmall(D t)  // |t| <= tan(π/8)
{
    constexpr double c[] = {1.0, -0.33333333333328613, 0.19999999998886908, -0.1428571418326947,
                            0.11111106265196899, -0.09090774883600099, 0.07689977089534318, -0.06640424913860767,
                            0.05689285358823693, -0.043505965449327, 0.021164798557614873};
    const D z = t * t;
    D sum = c[10] - D{};
    for (int k = 9; k >= 0; --k)
        sum = sum * z + c[k];
    return t * sum;
}

// atan(a / b) for 0 <= a <= b, b > 0, with one division: past tan(π/8) the reduced
// argument (a/b − 1)/(a/b + 1) is (a − b)/(a + b).
template <class D>
inline D atanOfRatio(D a, D b)
{
    const auto large = a > 0.41421356237309503 * b;  // tan(π/8)
    const D small = atanOfSmall((large ? a - b : a) / (large ? a + b : b));
    return large ? small + 0.78539816339744831 : small;  // π/4
}

// atan2(y, x); the signs of zeros are not kept (the kernel leaves lanes on an axis to the
// scalar call). The kernel takes atan(y / h) as atan2(y, h) too: one division fewer, and
// the quotient's rounding is far inside the margin.
template <class D>
inline D arcTangent2(D y, D x)
{
    const D ax = x < 0.0 ? -x : x, ay = y < 0.0 ? -y : y;
    const auto steep = ay > ax;
    const D larger = steep ? ay : ax;
    const D acute = atanOfRatio(steep ? ax : ay, larger > 0.0 ? larger : 1.0 - D{});
    D angle = steep ? 1.5707963267948966 - acute : acute;  // π/2
    angle = x < 0.0 ? 3.141592653589793 - angle : angle;
    return y < 0.0 ? -angle : angle;
}
