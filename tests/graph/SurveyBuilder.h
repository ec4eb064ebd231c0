#pragma once
// Builds small surveys in memory for the graph tests: each quadripole gets
// its own nodes, placed so that its plotting position and depth are the ones
// asked for.
#include "survey/Sequence.h"

#include <memory>

class TSurveyBuilder {
public:
    std::unique_ptr<TSequence> Survey = std::make_unique<TSequence>();

    // A new node; returns its number.
    int AddNode(float x, float y, float z = 0.0f)
    {
        const int n = ++Survey->NodeCount;
        Survey->Nodes[std::size_t(n)] = Node{x, y, z, n};
        return n;
    }

    int AddQuad(int a, int b, int m, int n, int level = 0)
    {
        const int i = Survey->QuadCount++;
        Survey->Quads[std::size_t(i)] = Quadripole{a, b, m, n, level};
        return i;
    }

    // A Wenner quadripole of spacing a centred on (x, y), laid along X or Y:
    // plotting position (x, y), pseudo-depth 0.57 a.
    int Wenner(float x, float y, float a, bool alongX = true, int level = 0)
    {
        const auto at = [&](float offset) {
            return alongX ? AddNode(x + offset, y) : AddNode(x, y + offset);
        };
        const int A = at(-1.5f * a), M = at(-0.5f * a), N = at(0.5f * a), B = at(1.5f * a);
        return AddQuad(A, B, M, N, level);
    }
};
