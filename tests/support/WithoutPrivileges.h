#pragma once
// Lets a stretch of a test run without the super-user's rights, so that file permissions hold
// (CI runs as root). As root it hands a fresh directory to the "nobody" account and takes that
// account's user and group ids, keeping root as the saved id to come back to when it ends; as
// anyone else it changes nothing. What the stretch makes belongs inside that directory.

#include <QFile>
#include <QString>
#include <pwd.h>
#include <unistd.h>

class WithoutPrivileges final
{
public:
    explicit WithoutPrivileges(const QString &directory)
    {
        if (geteuid() != 0)
            return;
        const passwd *nobody = getpwnam("nobody");
        const uid_t uid = nobody ? nobody->pw_uid : 65534;
        const gid_t gid = nobody ? nobody->pw_gid : 65534;
        if (chown(QFile::encodeName(directory).constData(), uid, gid) != 0 || setresgid(gid, gid, 0) != 0)
            return;
        if (setresuid(uid, uid, 0) != 0) {
            (void)setresgid(0, 0, 0);
            return;
        }
        m_dropped = true;
    }
    ~WithoutPrivileges()
    {
        if (m_dropped) {
            (void)setresuid(0, 0, 0);
            (void)setresgid(0, 0, 0);
        }
    }
    WithoutPrivileges(const WithoutPrivileges &) = delete;
    WithoutPrivileges &operator=(const WithoutPrivileges &) = delete;

    // Whether file permissions now hold for this process.
    bool permissionsHold() const { return m_dropped || geteuid() != 0; }

private:
    bool m_dropped = false;
};
