#pragma once

#include <QGraphicsEllipseItem>
#include <QGraphicsPolygonItem>
#include <QGraphicsRectItem>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPolygonF>
#include <QRectF>
#include <QString>

// One overlay shape in widget pixels.
struct ShapeRecord
{
    QString kind;   // "polygon", "rect", "ellipse" or "circle"
    int id = 0;
    QPolygonF polygon;
    QRectF rectangle;
    QPoint centre;
    int radius1 = 0;
    int radius2 = 0;
};

// Graphics items used only for hit tests of the overlay shapes.
class ZQGraphicsPolygonItem : public QGraphicsPolygonItem
{
public:
    explicit ZQGraphicsPolygonItem(const QPolygonF& p, int id) : QGraphicsPolygonItem(p), m_id(id) {}
    int shape_id() const { return m_id; }
private:
    int m_id;
};

class ZQGraphicsRectItem : public QGraphicsRectItem
{
public:
    explicit ZQGraphicsRectItem(const QRectF& r, int id) : QGraphicsRectItem(r), m_id(id) {}
    int shape_id() const { return m_id; }
private:
    int m_id;
};

class ZQGraphicsEllipseItem : public QGraphicsEllipseItem
{
public:
    explicit ZQGraphicsEllipseItem(const QRectF& r, int id) : QGraphicsEllipseItem(r), m_id(id) {}
    int shape_id() const { return m_id; }
private:
    int m_id;
};

// Holds the overlay shapes and parses a shape description into them.
//
// The description is a JSON array of objects, coordinates given as fractions
// (0 to 1) of the picture:
//   {"id":1,"type":"polygon","points":[[x,y],...]}
//   {"id":2,"type":"rect","x":..,"y":..,"w":..,"h":..}
//   {"id":3,"type":"ellipse","cx":..,"cy":..,"rx":..,"ry":..}   ("circle" uses "r")
// Anything else is skipped; sizes are capped.
class Shapes_Overlay : public QObject
{
    Q_OBJECT
public:
    static constexpr int max_description_bytes = 1024 * 1024;
    static constexpr int max_shapes = 256;
    static constexpr int max_points = 1024;

    Shapes_Overlay();
    ~Shapes_Overlay() override;

    QList<ShapeRecord> parse(const QString& description, int x, int y, int width, int height);
    QList<ShapeRecord> shapes() const { return m_shapes; }

private:
    QList<ShapeRecord> m_shapes;
};
