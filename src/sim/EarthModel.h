#pragma once
// Potentials of point current sources on the surface of the ground, and the
// apparent resistivity and chargeability of any quadripole over it.
#include <QString>

#include <array>
#include <map>
#include <vector>

class TEarthModel {
public:
    using TPoint = std::array<double, 3>;

    // "homogeneous:RHO", "layered:RHO1,H1,RHO2[,H2,RHO3...]", "anomaly:RHO_BG,RHO_BODY,X,Z,RADIUS".
    // Empty error on success.
    QString Parse(const QString &text);
    // Chargeabilities (mV/V): one for the whole ground; BG,BODY for a
    // homogeneous or sphere model; one per layer for a layered one. Checked
    // against the model parsed last; empty error on success.
    QString SetChargeability(const std::vector<double> &values);

    // Potential (V) at p for a current of 1 A entering the ground at s.
    double Potential(const TPoint &s, const TPoint &p) const;
    // Transfer resistance Vp / In of A B M N; a null pointer is an electrode at
    // infinity, whose terms vanish.
    double Resistance(const TPoint *a, const TPoint *b, const TPoint *m, const TPoint *n) const;
    // Geometric factor 2π / (1/AM - 1/BM - 1/AN + 1/BN); 0 when undefined.
    static double GeometricFactor(const TPoint *a, const TPoint *b, const TPoint *m, const TPoint *n);
    // Apparent chargeability (mV/V) by Seigel's rule: the layer chargeabilities
    // weighted by d ln(Rho_a) / d ln(Rho_layer).
    double Chargeability(const TPoint *a, const TPoint *b, const TPoint *m, const TPoint *n) const;

    double RhoBackground() const { return Rho1; }
    // The resistivity an electrode stands in: what its contact resistance follows.
    double RhoAtSurface() const { return Rho1; }
    int LayerCount() const { return int(LayerRho.size()); }

    // (1/2π) ∫ T(λ) J0(λr) dλ for a stack of layers over a half-space, by
    // quadrature of T - ρ1 (the top layer's ρ1/r is exact): the range below
    // the first zero of J0 in ln λ, the rest between the zeros of J0 with the
    // alternating sum extrapolated. Relative accuracy about 1e-10.
    static double LayeredPotential(double r, const std::vector<double> &rho, const std::vector<double> &h);

private:
    enum class TKind { Homogeneous, Layered, MultiLayer, Sphere };
    double LayeredPotentialCached(double r) const;
    // d V / d ρ_i of every layer at distance r, for Seigel's weights.
    const std::vector<double> &LayerDerivatives(double r) const;
    std::vector<double> LayerRho, LayerH, LayerM;
    // Potentials depend on the distance only; a survey has few distinct ones.
    mutable std::map<double, double> Cache;
    mutable std::map<double, std::vector<double>> DerivativeCache;
    TKind Kind = TKind::Homogeneous;
    double Rho1 = 100;     // background / top layer
    double Rho2 = 100;     // lower layer / sphere
    double Thickness = 0;  // top layer
    double BodyX = 0, BodyZ = 0, Radius = 0;
    double MBackground = 8, MBody = 8;
};
