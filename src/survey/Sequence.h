#pragma once
// Node and quadripole tables (placeholder until the survey model lands).
class TSequence {
public:
    virtual ~TSequence() = default;
};
