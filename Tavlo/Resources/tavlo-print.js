window.onload=function(){requestAnimationFrame(function(){requestAnimationFrame(function(){window.print();});});}
