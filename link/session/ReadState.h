#ifndef QUORVEX_READSTATE_H
#define QUORVEX_READSTATE_H

#include <QByteArray>
#include <QString>

#include "FragmentWindow.h"
#include "RoutePath.h"

// What reads keep from one to the next: the request path of the tag read
// last and the route's encoded bytes (a host polls the same tags along the
// same route again and again), and what the window learned of the
// connection: whether the controller keeps up with parts in flight
// together, and how many value bytes a part carries.
class ReadState
{
public:
    // The request path of a read of `area` named `tag`.
    const QByteArray &path(const QString &area, const QString &tag);
    // The route's encoded segments, made again only when the route changed.
    const QByteArray &routeBytes(const route::Route &route);

    // The window a read may keep with the option's N on this connection.
    fragwindow::WindowState window(int option) const;
    void learn(const fragwindow::WindowState &s);
    // Parts go one at a time: N is 1, or the controller could not keep up.
    bool oneAtATime(int option) const { return option <= 1 || shrunk; }
    // A new connection starts with the option's window and learns its part
    // size anew.
    void newConnection();

private:
    struct {
        QString area, tag;
        int firstName = -1;
        QByteArray bytes;
    } lastPath;
    route::Route encodedRoute;
    QByteArray encodedRouteBytes;
    bool routeEncoded = false;
    bool shrunk = false;
    int partBytes = 0;
};

#endif
