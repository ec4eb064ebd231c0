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
    void SetChargeability(double background, double body)
    {
        MBackground = background;
        MBody = body;
    }

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

private:
    enum class TKind { Homogeneous, Layered, MultiLayer, Sphere };
    // Three layers or more: the Hankel integral of the layers' resistivity
    // transform, (1/2π) ∫ T(λ) J0(λr) dλ.
    double LayeredPotential(double r) const;
    static double BesselIntegral(double r, const std::vector<double> &rho, const std::vector<double> &h);
    std::vector<double> LayerRho, LayerH;
    // Potentials depend on the distance only; a survey has few distinct ones.
    mutable std::map<double, double> Cache;
    TKind Kind = TKind::Homogeneous;
    double Rho1 = 100;     // background / top layer
    double Rho2 = 100;     // lower layer / sphere
    double Thickness = 0;  // top layer
    double BodyX = 0, BodyZ = 0, Radius = 0;
    double MBackground = 8, MBody = 8;
};
