// The session page's own script: exchange sections, tag badges and the tag popover, folding,
// appearance, and the messages to the program (the handler "tavlo").
(function () {
    'use strict';

    // ---- Appearance: the program passes ?appearance=dark|light; a browser follows the desktop.
    const root = document.documentElement;
    const darkQuery = window.matchMedia ? window.matchMedia('(prefers-color-scheme: dark)') : null;
    const requestedAppearance = new URLSearchParams(window.location.search).get('appearance');

    function setAppearance(appearance) {
        const dark = appearance === 'dark';
        root.classList.toggle('dark', dark);
        const light = document.getElementById('hljs-light');
        const darkSheet = document.getElementById('hljs-dark');
        if (light) light.disabled = dark;
        if (darkSheet) darkSheet.disabled = !dark;
    }
    function followDesktop() {
        setAppearance(darkQuery && darkQuery.matches ? 'dark' : 'light');
    }
    window.setAppearance = setAppearance;
    if (requestedAppearance) {
        setAppearance(requestedAppearance);
    } else {
        followDesktop();
        if (darkQuery && darkQuery.addEventListener) darkQuery.addEventListener('change', followDesktop);
    }

    // ---- Messages to the program. Outside the program (an exported file) they go nowhere.
    let host = null;
    const pending = [];
    const insideProgram = typeof qt !== 'undefined' && !!qt.webChannelTransport;
    function post(message) {
        if (host) host.post(message);
        else pending.push(message);
    }
    window.tavloPost = post;
    if (insideProgram && typeof QWebChannel !== 'undefined') {
        new QWebChannel(qt.webChannelTransport, function (channel) {
            host = channel.objects.tavlo;
            while (host && pending.length) host.post(pending.shift());
        });
    }

    // ---- Highlighting: guess among the languages transcripts mostly hold, not all of them.
    if (typeof hljs !== 'undefined') {
        hljs.configure({
            ignoreUnescapedHTML: true,
            languages: ['bash', 'shell', 'c', 'cpp', 'csharp', 'css', 'diff', 'go', 'java', 'javascript',
                        'json', 'kotlin', 'markdown', 'objectivec', 'python', 'ruby', 'rust', 'sql',
                        'swift', 'typescript', 'xml', 'yaml']
        });
        // A long session holds thousands of code blocks, and guessing their language takes a
        // good part of a millisecond each: a block asked to be highlighted is highlighted when it
        // comes near the view, so a page of any length shows at once and scrolls smoothly.
        if (typeof IntersectionObserver !== 'undefined') {
            const highlightNow = hljs.highlightElement.bind(hljs);
            const nearView = new IntersectionObserver(function (entries) {
                entries.forEach(function (entry) {
                    if (!entry.isIntersecting) return;
                    nearView.unobserve(entry.target);
                    if (entry.target.classList.contains('hljs')) return;
                    // The live update marks what it asked for; the highlighter takes that mark
                    // for its own and would refuse the block.
                    delete entry.target.dataset.highlighted;
                    highlightNow(entry.target);
                });
            }, {rootMargin: '2000px 0px'});
            hljs.highlightElement = function (element) {
                if (element.classList.contains('hljs') || element.dataset.highlightPending) return;
                element.dataset.highlightPending = '1';
                nearView.observe(element);
            };
        }
    }

    // ---- Sections: every exchange in one wrapper, opened at each prompt.
    function sectionIdOf(element) {
        const wrapper = element && element.closest ? element.closest('.exchange-wrapper') : null;
        return wrapper ? wrapper.getAttribute('data-section-id') : null;
    }

    const wrappersById = new Map();
    function newWrapper(sectionId, before) {
        const wrapper = document.createElement('div');
        wrapper.className = 'exchange-wrapper';
        wrapper.setAttribute('data-section-id', sectionId);
        document.body.insertBefore(wrapper, before);
        wrappersById.set(sectionId, wrapper);
        return wrapper;
    }

    // Wraps every element of the body that is not in a section yet, looking from `from` on (the
    // whole body when not given): a live update only wraps what it inserted. Runs any number of
    // times: after a full load, and after the program replaced or appended sections.
    function wrapLooseNodes(from, until) {
        const marked = [];
        let current = null;
        let node = from || document.body.firstChild;
        if (node) {
            const before = node.previousElementSibling;
            if (before && before.classList.contains('exchange-wrapper')) current = before;
        }
        for (let next; node && node !== until; node = next) {
            next = node.nextSibling;
            if (node.nodeType !== Node.ELEMENT_NODE) {
                if (current && node.nodeType === Node.TEXT_NODE && node.previousSibling === current) current.appendChild(node);
                continue;
            }
            if (node.classList.contains('exchange-wrapper')) {
                current = node;
                continue;
            }
            if (node.tagName === 'SCRIPT' || node.classList.contains('tag-popover')) continue;
            const opensExchange = node.classList.contains('user') && node.id;
            if (opensExchange || !current) {
                current = newWrapper(node.id || 'preamble', node);
                if (!opensExchange) current.classList.add('preamble');
                marked.push(current);
            }
            current.appendChild(node);
        }
        if (marked.length) {
            observeSections(marked);
            post({action: 'loadTagsForSections', sectionIds: marked.map(function (w) { return w.getAttribute('data-section-id'); })});
        }
        return marked;
    }
    function initSectionMarkers() {
        return wrapLooseNodes(null).length;
    }
    window.initSectionMarkers = initSectionMarkers;

    // ---- Sections in view, reported whenever the set changes.
    const inView = new Set();
    let lastReported = '';
    let reportScheduled = false;
    const observer = 'IntersectionObserver' in window ? new IntersectionObserver(function (entries) {
        for (const entry of entries) {
            if (entry.isIntersecting) inView.add(entry.target);
            else inView.delete(entry.target);
        }
        scheduleReport();
    }) : null;

    function observeSections(wrappers) {
        if (!observer) return;
        wrappers.forEach(function (wrapper) {
            if (!wrapper.dataset.observed) {
                wrapper.dataset.observed = '1';
                observer.observe(wrapper);
            }
        });
    }

    function scheduleReport() {
        if (reportScheduled) return;
        reportScheduled = true;
        requestAnimationFrame(function () {
            reportScheduled = false;
            // Only the sections in view are looked at, in page order: a long page has thousands.
            for (const wrapper of Array.from(inView)) if (!wrapper.isConnected) inView.delete(wrapper);
            const ids = Array.from(inView).sort(function (a, b) {
                return a.compareDocumentPosition(b) & Node.DOCUMENT_POSITION_FOLLOWING ? -1 : 1;
            }).map(function (wrapper) { return wrapper.getAttribute('data-section-id'); });
            const key = JSON.stringify(ids);
            if (key !== lastReported) {
                lastReported = key;
                post({action: 'visibleExchanges', ids: ids});
            }
        });
    }

    // ---- Tag badges.
    // The host asks for sections one by one, thousands at a time after a load: found through
    // the map kept as sections are made.
    // Every section is made by newWrapper, so the map knows them all: an id it lacks has no
    // section, and the document is not searched for it.
    function wrapperFor(sectionId) {
        const known = wrappersById.get(sectionId);
        if (known && known.isConnected) return known;
        wrappersById.delete(sectionId);
        return null;
    }

    function setMessageTags(sectionId, tags) {
        const wrapper = wrapperFor(sectionId);
        if (!wrapper) return;
        let bar = wrapper.querySelector(':scope > .tag-badges');
        if (!bar) {
            bar = document.createElement('div');
            bar.className = 'tag-badges';
            bar.title = 'Tags and annotation';
            bar.addEventListener('click', function (event) {
                event.stopPropagation();
                post({action: 'requestPopoverData', id: sectionId});
            });
            wrapper.insertBefore(bar, wrapper.firstChild);
        }
        bar.textContent = '';
        for (const tag of tags || []) {
            const badge = document.createElement('span');
            badge.className = 'tag-badge' + (tag.isAnnotation ? ' annotation' : '');
            badge.style.backgroundColor = tag.color;
            badge.style.color = tag.textColor;
            if (tag.isAnnotation) {
                badge.textContent = tag.annotationText ? '✎ ' + tag.annotationText : '+';
                badge.title = tag.annotationText || 'Add tags or an annotation';
            } else {
                badge.textContent = tag.name;
            }
            bar.appendChild(badge);
        }
    }
    window.setMessageTags = setMessageTags;

    // ---- The popover: every tag to tick, and the annotation to edit.
    let popover = null;

    function hidePopover() {
        if (popover) {
            popover.remove();
            popover = null;
        }
    }
    window.hidePopover = hidePopover;

    function showPopover(sectionId, allTags, attachedIds, annotation) {
        hidePopover();
        const wrapper = wrapperFor(sectionId);
        if (!wrapper) return;
        const attached = new Set((attachedIds || []).map(Number));
        popover = document.createElement('div');
        popover.className = 'tag-popover';
        popover.addEventListener('click', function (event) { event.stopPropagation(); });
        popover.addEventListener('contextmenu', function (event) { event.stopPropagation(); });

        for (const tag of allTags || []) {
            const label = document.createElement('label');
            const box = document.createElement('input');
            box.type = 'checkbox';
            box.checked = attached.has(Number(tag.id));
            box.addEventListener('change', function () {
                post({action: 'toggleTag', id: sectionId, tagId: Number(tag.id), checked: box.checked});
            });
            const swatch = document.createElement('span');
            swatch.className = 'swatch';
            swatch.style.backgroundColor = tag.color;
            const name = document.createElement('span');
            name.textContent = tag.name;
            label.append(box, swatch, name);
            popover.appendChild(label);
        }

        const text = document.createElement('textarea');
        text.placeholder = 'Annotation';
        text.value = annotation || '';
        popover.appendChild(text);

        const buttons = document.createElement('div');
        buttons.className = 'buttons';
        const close = document.createElement('button');
        close.textContent = 'Close';
        close.addEventListener('click', hidePopover);
        const save = document.createElement('button');
        save.className = 'primary';
        save.textContent = 'Save';
        save.addEventListener('click', function () {
            post({action: 'saveAnnotation', id: sectionId, annotation: text.value});
            hidePopover();
        });
        buttons.append(close, save);
        popover.appendChild(buttons);

        const box = wrapper.getBoundingClientRect();
        popover.style.top = (window.scrollY + box.top + 28) + 'px';
        popover.style.left = Math.max(8, window.scrollX + box.right - 260) + 'px';
        document.body.appendChild(popover);
        text.focus();
    }
    window.showPopover = showPopover;

    // ---- What the program calls. It hands over data only (ids, HTML, numbers, tag records);
    // every change of the document is made here.

    // Where the reader is, as JSON text: the offset, and whether the view is within `tolerance`
    // CSS pixels of the end.
    function pageScrollState(tolerance) {
        const doc = document.documentElement;
        const scrollTop = window.pageYOffset || doc.scrollTop || document.body.scrollTop || 0;
        const scrollHeight = doc.scrollHeight || document.body.scrollHeight;
        const clientHeight = window.innerHeight || doc.clientHeight;
        return JSON.stringify({scrollTop: scrollTop, atBottom: scrollTop + clientHeight >= scrollHeight - tolerance});
    }
    window.pageScrollState = pageScrollState;

    // Code outside prompts, highlighted as it comes near the view. The sections are watched,
    // not each block: a long page holds a hundred thousand blocks, and watching that many
    // makes every scrolled frame slow. A section that comes near hands its blocks on.
    const sectionsNearView = typeof IntersectionObserver !== 'undefined' ? new IntersectionObserver(function (entries) {
        for (const entry of entries) {
            if (!entry.isIntersecting) continue;
            sectionsNearView.unobserve(entry.target);
            highlightBlocksOf(entry.target);
        }
    }, {rootMargin: '2000px 0px'}) : null;
    function highlightBlocksOf(element) {
        if (typeof hljs === 'undefined') return;
        element.querySelectorAll(':not(.user) > pre code').forEach(function (el) { hljs.highlightElement(el); });
    }
    function highlightCodeIn(wrappers) {
        for (const wrapper of wrappers) {
            if (sectionsNearView) sectionsNearView.observe(wrapper);
            else highlightBlocksOf(wrapper);
        }
    }

    function fragmentOf(html) {
        const template = document.createElement('template');
        template.innerHTML = html;
        return template.content;
    }

    // A live update: the section of the last shown exchange gets its new HTML, the new
    // exchanges are appended, and the view follows the end or stays at `scrollTop`.
    function replaceLastAndAppend(sectionId, html, newHtml, followEnd, scrollTop) {
        const wrapper = wrapperFor(sectionId);
        let firstLoose = null;
        if (wrapper) {
            const fragment = fragmentOf(html);
            firstLoose = fragment.firstChild;
            if (firstLoose) wrapper.replaceWith(fragment);
            else wrapper.remove();
        }
        if (newHtml) {
            const fragment = fragmentOf(newHtml);
            if (!firstLoose) firstLoose = fragment.firstChild;
            document.body.appendChild(fragment);
        }
        highlightCodeIn(wrapLooseNodes(firstLoose || document.body.lastChild));
        if (followEnd)
            requestAnimationFrame(function () { window.scrollTo({top: document.body.scrollHeight, behavior: 'smooth'}); });
        else
            window.scrollTo(0, scrollTop);
    }
    window.replaceLastAndAppend = replaceLastAndAppend;

    // A long page arrives in parts: earlier exchanges are put above the ones shown, and the view
    // keeps showing what it showed.
    function prependSections(html) {
        const fragment = fragmentOf(html);
        const before = document.body.firstChild;
        const first = fragment.firstChild;
        if (!first) return 0;
        const doc = document.documentElement;
        const heightBefore = doc.scrollHeight;
        const topBefore = window.pageYOffset;
        document.body.insertBefore(fragment, before);
        const made = wrapLooseNodes(first, before);
        highlightCodeIn(made);
        // A glide to an exchange still under way was aimed before this part moved it down:
        // it is aimed again.
        if (scrollTarget && scrollTarget.isConnected) scrollTarget.scrollIntoView({behavior: 'smooth', block: 'start'});
        else if (topBefore > 0) window.scrollTo(0, topBefore + doc.scrollHeight - heightBefore);
        return made.length;
    }
    window.prependSections = prependSections;

    // After a full load: highlighting, then at most one scroll, the first that applies: to an
    // exchange, to the end, to an offset.
    function finishLoad(scroll) {
        highlightCodeIn(document.querySelectorAll('.exchange-wrapper'));
        scroll = scroll || {};
        if (scroll.exchangeId) {
            requestAnimationFrame(function () {
                const element = document.getElementById(scroll.exchangeId) || wrapperFor(scroll.exchangeId);
                if (element) holdAtTop(element);
            });
        } else if (scroll.toBottom) {
            requestAnimationFrame(function () {
                requestAnimationFrame(function () { window.scrollTo(0, document.body.scrollHeight); });
            });
        } else if (scroll.scrollTop > 0) {
            requestAnimationFrame(function () { window.scrollTo(0, scroll.scrollTop); });
        }
    }
    window.finishLoad = finishLoad;

    // The layout goes on settling after a load (fonts, code highlighted as it nears the view),
    // which moves what lies below: the exchange is kept at the top until then, unless the
    // reader scrolls first.
    const kHoldMilliseconds = 3000;
    const releasingEvents = ['wheel', 'keydown', 'mousedown', 'touchstart'];
    function holdAtTop(element) {
        let held = true;
        const aim = function () {
            if (held && element.isConnected) element.scrollIntoView({block: 'start'});
        };
        const observer = new ResizeObserver(aim);
        const release = function () {
            held = false;
            observer.disconnect();
            for (const type of releasingEvents) window.removeEventListener(type, release, true);
        };
        for (const type of releasingEvents) window.addEventListener(type, release, true);
        observer.observe(document.body);
        if (document.fonts) document.fonts.ready.then(aim);
        setTimeout(release, kHoldMilliseconds);
        aim();
    }

    // The exchange's first message glides to the top; an open popover closes.
    let scrollTarget = null;
    let scrollTargetTimer = 0;
    function scrollToExchange(exchangeId) {
        hidePopover();
        // An exchange whose first line shows nothing has no element of its id; its section does.
        const element = document.getElementById(exchangeId) || wrapperFor(exchangeId);
        if (!element) return;
        element.scrollIntoView({behavior: 'smooth', block: 'start'});
        const settling = scrollTarget !== null;
        scrollTarget = element;
        clearTimeout(scrollTargetTimer);
        scrollTargetTimer = setTimeout(function () { scrollTarget = null; }, 10000);
        if (!settling) settleOnScrollTarget();
    }
    window.scrollToExchange = scrollToExchange;

    // Sections out of view are laid out at an estimated height until they come near it, so a
    // glide can end off its exchange by what the sections just above it turned out to be. Once
    // the view has stopped moving it is put right (again, should that lay out more sections),
    // until the exchange is in place, the page can move no further, or the reader scrolls.
    function settleOnScrollTarget() {
        let lastY = NaN;
        let stillFrames = 0;
        let correctedFrom = NaN;
        function frame() {
            if (!scrollTarget || !scrollTarget.isConnected) { scrollTarget = null; return; }
            const y = window.pageYOffset;
            stillFrames = y === lastY ? stillFrames + 1 : 0;
            lastY = y;
            if (stillFrames >= 3) {
                const offset = Math.round(scrollTarget.getBoundingClientRect().top);
                if (offset === 0 || y === correctedFrom) {
                    // Parts still arriving above, and sections laid out as they near the view,
                    // move it again: it is held at the top a little longer.
                    const target = scrollTarget;
                    scrollTarget = null;
                    if (offset === 0) holdAtTop(target);
                    return;
                }
                correctedFrom = y;
                window.scrollBy(0, offset);
                stillFrames = 0;
            }
            requestAnimationFrame(frame);
        }
        requestAnimationFrame(frame);
    }
    ['wheel', 'mousedown', 'touchstart', 'keydown'].forEach(function (type) {
        window.addEventListener(type, function () { scrollTarget = null; }, {passive: true, capture: true});
    });

    // Badges of many sections at once: [[sectionId, tags], ...].
    function setTagsOfSections(list) {
        for (const entry of list || []) setMessageTags(entry[0], entry[1]);
    }
    window.setTagsOfSections = setTagsOfSections;

    // ---- The note of a project still being read; its text follows the read.
    function showLoadingNote(text) {
        let note = document.getElementById('loading-note');
        if (!note) {
            note = document.createElement('p');
            note.id = 'loading-note';
            note.className = 'loading-note';
            document.body.appendChild(note);
        }
        note.textContent = text;
    }
    window.showLoadingNote = showLoadingNote;

    window.selectedText = function () { return window.getSelection().toString(); };

    // The library index's progress above a summary while it is brought up to date; an empty
    // text takes the line away.
    function showIndexProgress(text) {
        let line = document.getElementById('index-progress');
        if (!text) {
            if (line) line.remove();
            return;
        }
        if (!line) {
            line = document.createElement('p');
            line.id = 'index-progress';
            line.className = 'index-progress';
            document.body.insertBefore(line, document.body.firstChild);
        }
        line.textContent = text;
    }
    window.showIndexProgress = showIndexProgress;

    // ---- Folding of attachments, diffs and recaps.
    const foldHeaders = '.tool-use-header, .attachment-header, .away-summary-header';
    function foldTarget(header) {
        for (let next = header.nextElementSibling; next; next = next.nextElementSibling)
            if (next.classList.contains('tool-use-diff') || next.classList.contains('attachment-body')
                || next.classList.contains('away-summary-body')) return next;
        return null;
    }
    function toggleFold(header) {
        const target = foldTarget(header);
        if (!target) return;
        const folded = target.classList.toggle('folded');
        const glyph = header.querySelector('.fold-toggle');
        if (glyph) glyph.textContent = folded ? '▶' : '▼';
    }

    document.addEventListener('click', function (event) {
        if (popover && !popover.contains(event.target)) hidePopover();
        const header = event.target.closest && event.target.closest(foldHeaders);
        if (header) {
            toggleFold(header);
            return;
        }
        const foldedBody = event.target.closest
            && event.target.closest('.tool-use-diff.folded, .attachment-body.folded, .away-summary-body.folded');
        if (foldedBody && foldedBody.previousElementSibling) {
            let header = foldedBody.previousElementSibling;
            while (header && !header.matches(foldHeaders)) header = header.previousElementSibling;
            if (header) toggleFold(header);
        }
    });

    document.addEventListener('keydown', function (event) {
        if (event.key === 'Escape') hidePopover();
    });

    // ---- Right click: the program shows the tag menu of the section.
    document.addEventListener('contextmenu', function (event) {
        const sectionId = sectionIdOf(event.target);
        if (!sectionId) return;
        event.preventDefault();
        post({action: 'contextMenu', id: sectionId, x: Math.round(event.clientX), y: Math.round(event.clientY)});
    });

    // ---- The pull requests the session opened, listed at the top of its page; parts of the page
    // that arrive later may bring more.
    function listPullRequests() {
        const lines = document.querySelectorAll('.pr-link-line:not(#pull-requests .pr-link-line)');
        const seen = new Set();
        const unique = [];
        for (const line of lines) {
            if (seen.has(line.textContent)) continue;
            seen.add(line.textContent);
            unique.push(line);
        }
        let box = document.getElementById('pull-requests');
        const signature = unique.map(function (line) { return line.innerHTML; }).join('\n');
        if (box && box.dataset.signature === signature) return;
        if (!unique.length) {
            if (box) box.remove();
            return;
        }
        if (!box) {
            box = document.createElement('div');
            box.id = 'pull-requests';
            box.className = 'pull-requests';
            document.body.insertBefore(box, document.body.firstChild);
        }
        box.dataset.signature = signature;
        box.replaceChildren.apply(box, unique.map(function (line) { return line.cloneNode(true); }));
    }
    let pullRequestsPending = false;
    new MutationObserver(function () {
        if (pullRequestsPending) return;
        pullRequestsPending = true;
        setTimeout(function () {
            pullRequestsPending = false;
            listPullRequests();
        }, 0);
    }).observe(document.documentElement, {childList: true, subtree: true});

    window.addEventListener('scroll', scheduleReport, {passive: true});
    document.addEventListener('DOMContentLoaded', function () {
        initSectionMarkers();
        listPullRequests();
        document.documentElement.classList.remove('loading');
        // Inside the program the host has the page highlighted after the load; a browser has no host.
        if (!insideProgram) highlightCodeIn(document.querySelectorAll('.exchange-wrapper'));
        scheduleReport();
    });
})();
