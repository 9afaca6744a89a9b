#pragma once
// Small fixed-function drawing helpers of the view's overlays (manipulator
// arrows, rings and sectors, guides, the in-view number box). Each draws
// with the current context and matrices; colours are RGB in 0..1.

// Blending (source alpha, one minus source alpha) with point and line
// smoothing on; and all three off again.
void enableSmoothBlend();
void disableSmoothBlend();

// A filled sector as a triangle fan: from centre, starting along startDir
// (unit), turning about normal by *angle radians, radius *radius.
void drawSector(const double centre[3], const double startDir[3], const double normal[3], const double* angle,
                const double* radius);
// The number of fan segments drawSector uses for an angle in radians:
// one per degree, plus one.
int sectorSegmentCount(double angle);

// A cone of points from tip towards base, growing from 0.1 to *size pixels.
void drawPointCone(const double base[3], const double tip[3], const double* size);

// A circle of radius *radius about axis through centre, in colour (blue when null).
void drawRing(const double centre[3], const double axis[3], const double* radius, const double* colour);
// Segments first .. first + count - 1 of a circle in the xy plane, 5 degrees
// each; segment 71 closes the circle (355 back to 0 degrees).
void drawCircleSegments(const double* radius, const double* colour, int first, int count);
// The two angles (degrees) segment k of drawCircleSegments joins.
void circleSegmentAngles(int k, double* from, double* to);

// A line a-b; stippled with factor > 0.
void drawStippledLine(const double a[3], const double b[3], const double colour[3], const float* width,
                      int factor, unsigned short pattern);
// The outline of the axis-aligned rectangle from a to b in a plane of
// constant y (plane 1), x (plane 0) or z (any other value).
void drawStippledRectangle(const double a[3], const double b[3], const double colour[3], int plane,
                           double width, bool stippled);
