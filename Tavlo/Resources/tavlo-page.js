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

    // ---- Messages to the program: one function for each, named as the method of the
    // program's handler "tavlo" it calls. Before the channel is up they wait, in order; outside
    // the program (an exported file) they go nowhere.
    let host = null;
    const pending = [];
    const insideProgram = typeof qt !== 'undefined' && !!qt.webChannelTransport;
    function send(name, args) {
        if (host) host[name].apply(host, args);
        else pending.push([name, args]);
    }
    const toProgram = Object.freeze({
        visibleExchanges: function (ids) { send('visibleExchanges', [ids]); },
        openLink: function (url) { send('openLink', [url]); },
        contextMenu: function (sectionId, x, y) { send('contextMenu', [sectionId, x, y]); },
        requestPopoverData: function (sectionId) { send('requestPopoverData', [sectionId]); },
        toggleTag: function (sectionId, tagId, checked) { send('toggleTag', [sectionId, tagId, checked]); },
        saveAnnotation: function (sectionId, annotation) { send('saveAnnotation', [sectionId, annotation]); },
        loadTagsForSections: function (sectionIds) { send('loadTagsForSections', [sectionIds]); }
    });
    window.tavloHost = toProgram;
    if (insideProgram && typeof QWebChannel !== 'undefined') {
        new QWebChannel(qt.webChannelTransport, function (channel) {
            host = channel.objects.tavlo;
            while (host && pending.length) {
                const message = pending.shift();
                host[message[0]].apply(host, message[1]);
            }
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

    // ---- Transcript content. The program hands over every block of a transcript as an HTML
    // string; each is cleaned on its own and put into an element made here, so that nothing in
    // it can close, open or name anything outside its block, run, load, or navigate.

    // Class names the page's script and style sheet give meaning to: markup of a transcript
    // can't take them on (a forged section, prompt or popover).
    const reservedClasses = new Set(['exchange-wrapper', 'preamble', 'tag-badges', 'tag-badge', 'tag-popover',
                                     'user', 'assistant', 'link-status', 'loading-note', 'index-progress']);
    const cleaner = typeof DOMPurify !== 'undefined' && DOMPurify.isSupported ? DOMPurify : null;
    if (cleaner) {
        cleaner.addHook('uponSanitizeAttribute', function (node, data) {
            if (data.attrName === 'class')
                data.attrValue = data.attrValue.split(/\s+/).filter(function (name) { return !reservedClasses.has(name); }).join(' ');
        });
    }
    // A fixed element would leave its block (paint containment holds only what the block
    // positions): it is placed in its block instead.
    if (cleaner) {
        cleaner.addHook('afterSanitizeAttributes', function (node) {
            if (node.hasAttribute && node.hasAttribute('style') && node.style.position === 'fixed')
                node.style.setProperty('position', 'absolute');
        });
    }
    const cleanOptions = {
        RETURN_DOM_FRAGMENT: true,
        // Ids and names get a prefix: out of reach of the page's own names and of the
        // document's properties (clobbering).
        SANITIZE_NAMED_PROPS: true,
        // A style sheet would restyle the whole page.
        FORBID_TAGS: ['style'],
        // Links of any scheme stay, as written; the program asks before it opens any but the
        // web's. Script and data addresses go.
        ALLOWED_URI_REGEXP: /^(?!(?:javascript|vbscript|data):)/i
    };
    // The options are read once, not for each of the thousands of blocks of a page.
    if (cleaner) cleaner.setConfig(cleanOptions);

    // Blocks are cleaned together, a part's worth at a time: the cleaner makes a document of its
    // own for each call, and with thousands of small blocks that cost more than the cleaning.
    // Each text is still parsed alone, into an element of its own in an inert document (nothing
    // loads, runs or navigates there, and an end tag in it closes nothing outside its element);
    // the cleaned copies come back in the same order. Returns one element a text, whose
    // children are the cleaned content, owned by this page's document.
    const inertDocument = document.implementation.createHTMLDocument('');
    function cleanedHolders(texts) {
        if (!cleaner) return texts.map(shownAsText);
        const batch = inertDocument.createElement('div');
        for (const text of texts) {
            const holder = inertDocument.createElement('div');
            holder.innerHTML = text || '';
            batch.appendChild(holder);
        }
        const cleaned = cleaner.sanitize(batch);
        const copy = cleaned && cleaned.childElementCount === 1 ? cleaned.firstElementChild : null;
        // The cleaner drops an element whose only children are text and comments that read as
        // markup: a holder gone leaves the order unknown, so each text is cleaned alone.
        if (!copy || copy.childNodes.length !== texts.length || copy.childElementCount !== texts.length)
            return texts.map(cleanedAlone);
        // Copied out first: adopting a holder takes it out of the live list of children.
        return Array.from(copy.children).map(function (holder) { return document.adoptNode(holder); });
    }
    function cleanedAlone(text) {
        const holder = document.createElement('div');
        holder.appendChild(cleaner.sanitize(text || ''));
        return holder;
    }
    // Without the cleaner the markup is shown as text.
    function shownAsText(text) {
        const holder = document.createElement('div');
        const pre = document.createElement('pre');
        pre.textContent = text || '';
        holder.appendChild(pre);
        return holder;
    }

    // A block's kind is its class when it is one plain name the page gives no other meaning to,
    // or a block kind of the page's ("user", "assistant"). The cleaned holder becomes the block.
    function blockElement(block, holder) {
        const element = holder;
        element.id = String(block.id || '');
        const kind = String(block.kind || '');
        const pageKind = kind === 'user' || kind === 'assistant';
        if (/^[A-Za-z][A-Za-z0-9_-]*$/.test(kind) && (pageKind || !reservedClasses.has(kind))) element.className = kind;
        return element;
    }

    // The nodes of sections as the program sends them: a wrapper for each exchange with its
    // blocks; a page that is no session comes as loose pieces, wrapped by wrapLooseNodes.
    function nodesOfSections(sections) {
        sections = (sections || []).filter(function (section) {
            return section && (!Array.isArray(section.blocks) || section.blocks.length);
        });
        const texts = [];
        for (const section of sections) {
            if (Array.isArray(section.blocks)) for (const block of section.blocks) texts.push(block ? block.html : '');
            else texts.push(section.html);
        }
        const holders = cleanedHolders(texts);
        let next = 0;
        const fragment = document.createDocumentFragment();
        const made = [];
        for (const section of sections) {
            if (Array.isArray(section.blocks)) {
                const wrapper = makeWrapper(String(section.id || 'preamble'));
                if (section.preamble) wrapper.classList.add('preamble');
                for (const block of section.blocks) wrapper.appendChild(blockElement(block || {}, holders[next++]));
                fragment.appendChild(wrapper);
                made.push(wrapper);
            } else {
                const holder = holders[next++];
                while (holder.firstChild) fragment.appendChild(holder.firstChild);
            }
        }
        return {fragment: fragment, made: made};
    }

    // The sections the document was loaded with, from its data element.
    // Its cost is left as the performance measure "tavlo-sections".
    function showPageData() {
        const data = document.getElementById('tavlo-page-data');
        if (!data || data.type !== 'application/json') return;
        const start = performance.now();
        let sections = [];
        try { sections = JSON.parse(data.textContent); } catch (error) { sections = []; }
        const built = nodesOfSections(sections);
        data.replaceWith(built.fragment);
        announceSections(built.made);
        if (performance.measure) performance.measure('tavlo-sections', {start: start});
    }

    // ---- Sections: every exchange in one wrapper. The program names them; loose content (a
    // page that is no session) opens a section at each prompt.
    function sectionIdOf(element) {
        const wrapper = element && element.closest ? element.closest('body > .exchange-wrapper') : null;
        return wrapper ? wrapper.getAttribute('data-section-id') : null;
    }

    const wrappersById = new Map();
    function makeWrapper(sectionId) {
        const wrapper = document.createElement('div');
        wrapper.className = 'exchange-wrapper';
        wrapper.setAttribute('data-section-id', sectionId);
        wrappersById.set(sectionId, wrapper);
        return wrapper;
    }
    function newWrapper(sectionId, before) {
        const wrapper = makeWrapper(sectionId);
        document.body.insertBefore(wrapper, before);
        return wrapper;
    }

    // New sections are watched for being in view and ask for their badges.
    function announceSections(wrappers) {
        if (!wrappers.length) return;
        observeSections(wrappers);
        toProgram.loadTagsForSections(wrappers.map(function (w) { return w.getAttribute('data-section-id'); }));
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
            if (node.tagName === 'SCRIPT' || node === popover) continue;
            const opensExchange = node.classList.contains('user') && node.id;
            if (opensExchange || !current) {
                current = newWrapper(node.id || 'preamble', node);
                if (!opensExchange) current.classList.add('preamble');
                marked.push(current);
            }
            current.appendChild(node);
        }
        announceSections(marked);
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
                toProgram.visibleExchanges(ids);
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
                toProgram.requestPopoverData(sectionId);
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
                toProgram.toggleTag(sectionId, Number(tag.id), box.checked);
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
            toProgram.saveAnnotation(sectionId, text.value);
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

    // A live update: the section of the last shown exchange is made anew, the new exchanges are
    // appended, and the view follows the end or stays at `scrollTop`.
    function replaceLastAndAppend(sectionId, section, newSections, followEnd, scrollTop) {
        // A section that showed nothing so far has no wrapper yet: it comes last, before the new ones.
        const wrapper = wrapperFor(sectionId);
        const replacement = nodesOfSections([section]);
        if (wrapper) wrapper.replaceWith(replacement.fragment);
        else document.body.appendChild(replacement.fragment);
        let made = replacement.made;
        const appended = nodesOfSections(newSections);
        document.body.appendChild(appended.fragment);
        made = made.concat(appended.made);
        announceSections(made);
        highlightCodeIn(made);
        if (followEnd)
            requestAnimationFrame(function () { window.scrollTo({top: document.body.scrollHeight, behavior: 'smooth'}); });
        else
            window.scrollTo(0, scrollTop);
    }
    window.replaceLastAndAppend = replaceLastAndAppend;

    // A long page arrives in parts: earlier exchanges are put above the ones shown, and the view
    // keeps showing what it showed.
    function prependSections(sections) {
        const built = nodesOfSections(sections);
        const made = built.made;
        if (!made.length) return 0;
        const doc = document.documentElement;
        const heightBefore = doc.scrollHeight;
        const topBefore = window.pageYOffset;
        document.body.insertBefore(built.fragment, document.body.firstChild);
        announceSections(made);
        highlightCodeIn(made);
        // An exchange held at the top stays there; a glide to an exchange still under way was
        // aimed before this part moved it down: it is aimed again.
        if (currentHold) {
            currentHold.renew();
        } else if (scrollTarget && scrollTarget.isConnected) {
            scrollTarget.scrollIntoView({behavior: 'smooth', block: 'start'});
            armScrollTargetTimer();
        } else if (topBefore > 0) window.scrollTo(0, topBefore + doc.scrollHeight - heightBefore);
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
                const element = elementOfExchange(scroll.exchangeId);
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
    // Each part that arrives above renews the hold: on a slow machine parts keep coming for
    // longer than the hold would last.
    const kHoldMilliseconds = 3000;
    const releasingEvents = ['wheel', 'keydown', 'mousedown', 'touchstart'];
    let currentHold = null;
    function holdAtTop(element) {
        if (currentHold) currentHold.release();
        let held = true;
        let timer = 0;
        const aim = function () {
            if (held && element.isConnected) element.scrollIntoView({block: 'start'});
        };
        const observer = new ResizeObserver(aim);
        // What moves the exchange need not resize the body (a section above laid out at its
        // real height in place of its estimate): each frame of the hold checks where it is.
        const watch = function () {
            if (!held) return;
            if (element.isConnected && Math.round(element.getBoundingClientRect().top) !== 0) aim();
            requestAnimationFrame(watch);
        };
        requestAnimationFrame(watch);
        const hold = {
            release: function () {
                held = false;
                clearTimeout(timer);
                observer.disconnect();
                for (const type of releasingEvents) window.removeEventListener(type, hold.release, true);
                if (currentHold === hold) currentHold = null;
            },
            renew: function () {
                clearTimeout(timer);
                timer = setTimeout(hold.release, kHoldMilliseconds);
                aim();
            }
        };
        currentHold = hold;
        for (const type of releasingEvents) window.addEventListener(type, hold.release, true);
        observer.observe(document.body);
        if (document.fonts) document.fonts.ready.then(aim);
        hold.renew();
    }

    // The block of the exchange's first message; its section when no block carries its id (its
    // first line shows nothing). Looked up among the page's own sections only.
    function elementOfExchange(exchangeId) {
        const wrapper = wrapperFor(exchangeId);
        if (!wrapper) return null;
        for (const child of wrapper.children)
            if (child.id === exchangeId) return child;
        return wrapper;
    }

    // The exchange's first message glides to the top; an open popover closes.
    let scrollTarget = null;
    let scrollTargetTimer = 0;
    function scrollToExchange(exchangeId) {
        hidePopover();
        const element = elementOfExchange(exchangeId);
        if (!element) return;
        element.scrollIntoView({behavior: 'smooth', block: 'start'});
        const settling = scrollTarget !== null;
        if (currentHold) currentHold.release();
        scrollTarget = element;
        armScrollTargetTimer();
        if (!settling) settleOnScrollTarget();
    }
    // A glide gives up on its exchange when nothing has moved it for a while.
    function armScrollTargetTimer() {
        clearTimeout(scrollTargetTimer);
        scrollTargetTimer = setTimeout(function () { scrollTarget = null; }, 10000);
    }
    window.scrollToExchange = scrollToExchange;

    // Another part of the page moves the view (find): no exchange is held or glided to any more.
    window.takeOverScroll = function () {
        if (currentHold) currentHold.release();
        scrollTarget = null;
    };

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
    // The page's own elements are held, never looked up by id, which a transcript could carry.
    let loadingNote = null;
    function showLoadingNote(text) {
        if (!loadingNote || !loadingNote.isConnected) {
            loadingNote = document.createElement('p');
            loadingNote.id = 'loading-note';
            loadingNote.className = 'loading-note';
            document.body.appendChild(loadingNote);
        }
        loadingNote.textContent = text;
    }
    window.showLoadingNote = showLoadingNote;

    window.selectedText = function () { return window.getSelection().toString(); };

    // The library index's progress above a summary while it is brought up to date; an empty
    // text takes the line away.
    let indexProgress = null;
    function showIndexProgress(text) {
        if (!text) {
            if (indexProgress) indexProgress.remove();
            indexProgress = null;
            return;
        }
        if (!indexProgress || !indexProgress.isConnected) {
            indexProgress = document.createElement('p');
            indexProgress.id = 'index-progress';
            indexProgress.className = 'index-progress';
            document.body.insertBefore(indexProgress, document.body.firstChild);
        }
        indexProgress.textContent = text;
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
        toProgram.contextMenu(sectionId, Math.round(event.clientX), Math.round(event.clientY));
    });

    // ---- The pull requests the session opened, listed at the top of its page; parts of the page
    // that arrive later may bring more.
    function listPullRequests() {
        // Only the lines the program made: a block of the page's own, right in its section, so
        // markup of a transcript can't forge a pull request at the top of the page.
        const lines = document.querySelectorAll('.exchange-wrapper > .pr-link > .pr-link-line');
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
    // The lines come only with sections, and sections are the body's children: only those are
    // watched. Changes inside sections (highlighting, badges) would have the whole page searched
    // again each time, which a long page feels.
    let pullRequestsPending = false;
    const sectionsWatch = new MutationObserver(function () {
        if (pullRequestsPending) return;
        pullRequestsPending = true;
        setTimeout(function () {
            pullRequestsPending = false;
            listPullRequests();
        }, 0);
    });

    // ---- Links. A link opens only from a click on its visible text, once the status line shows
    // where it goes (as the pointer comes over it, or the keyboard focus): a link made invisible
    // or stretched over the page opens nothing. Where it may go is the program's decision (or
    // the browser's, for an exported page).
    const statusLine = document.createElement('div');
    statusLine.className = 'link-status';
    let shownLink = null;
    function showLinkStatus(link) {
        shownLink = link;
        statusLine.textContent = link ? link.href : '';
        statusLine.classList.toggle('shown', !!link);
        if (!statusLine.isConnected) root.appendChild(statusLine);
    }
    function linkOf(target) {
        return target && target.closest ? target.closest('a[href]') : null;
    }
    function textNodesOf(link) {
        const nodes = [];
        const walker = document.createTreeWalker(link, NodeFilter.SHOW_TEXT);
        for (let node = walker.nextNode(); node; node = walker.nextNode())
            if (node.data.trim()) nodes.push(node);
        return nodes;
    }
    function textAtPoint(link, x, y) {
        const range = document.createRange();
        for (const node of textNodesOf(link)) {
            range.selectNodeContents(node);
            for (const box of range.getClientRects())
                if (x >= box.left && x <= box.right && y >= box.top && y <= box.bottom) return node;
        }
        return null;
    }
    function alphaOf(color) {
        const match = /rgba?\(([^)]*)\)/.exec(color);
        const parts = match ? match[1].split(/[\s,\/]+/).filter(Boolean) : [];
        return parts.length > 3 ? parseFloat(parts[3]) : 1;
    }
    function isLegible(textNode) {
        const element = textNode.parentElement;
        const style = getComputedStyle(element);
        if (style.visibility !== 'visible' || parseFloat(style.fontSize) < 6 || alphaOf(style.color) < 0.5) return false;
        let opacity = 1;
        for (let e = element; e; e = e.parentElement) opacity *= parseFloat(getComputedStyle(e).opacity);
        return opacity >= 0.5;
    }
    function mayFollow(link, event) {
        if (!event.isTrusted || link !== shownLink) return false;
        // From the keyboard: the focused link, when its text can be read.
        if (event.detail === 0 && document.activeElement === link)
            return textNodesOf(link).some(isLegible);
        const text = textAtPoint(link, event.clientX, event.clientY);
        if (!text || !isLegible(text)) return false;
        const top = document.elementFromPoint(event.clientX, event.clientY);
        return !!top && link.contains(top);
    }
    // Inside the program the page never navigates: a link the reader may follow goes to the
    // program, which opens it outside. A browser follows it itself.
    function guardLink(event) {
        const link = linkOf(event.target);
        if (!link) return;
        const follow = mayFollow(link, event);
        if (follow && !insideProgram) return;
        event.preventDefault();
        if (follow) toProgram.openLink(link.href);
        else showLinkStatus(link);
    }
    document.addEventListener('click', guardLink, true);
    document.addEventListener('auxclick', guardLink, true);
    document.addEventListener('mouseover', function (event) { showLinkStatus(linkOf(event.target)); }, true);
    document.addEventListener('focusin', function (event) { showLinkStatus(linkOf(event.target)); }, true);

    window.addEventListener('scroll', scheduleReport, {passive: true});
    document.addEventListener('DOMContentLoaded', function () {
        showPageData();
        initSectionMarkers();
        listPullRequests();
        sectionsWatch.observe(document.body, {childList: true});
        document.documentElement.classList.remove('loading');
        // Inside the program the host has the page highlighted after the load; a browser has no host.
        if (!insideProgram) highlightCodeIn(document.querySelectorAll('.exchange-wrapper'));
        scheduleReport();
    });
})();
